#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal.h"

// The plant's one record of every unit from every station: the table `units` on a PostgreSQL
// server, with the local journal's columns (times as timestamptz) and received_at, the server's
// time of the row's latest change. Stations forward to it; nobody commissions against it, so
// every wait on it is bounded and ends early once `abandon` is non-zero (a stop signal).
namespace journal {

class Central {
  public:
    // Connects with a libpq connection string or URI and makes sure the server keeps a schema
    // this program knows, creating the tables where there are none. Null, with the reason,
    // when the server cannot be reached, refuses the login, or keeps a newer schema.
    static std::unique_ptr<Central> Connect(const std::string& url, const std::atomic<int>* abandon,
                                            std::string& error);
    ~Central();
    Central(const Central&) = delete;
    Central& operator=(const Central&) = delete;

    // By the local journal's rule (Journal::Merge), in one transaction per statement of at most
    // a few hundred rows; `changed`: how many were added or completed.
    bool Merge(const std::vector<UnitRow>& rows, int& changed, std::string& error);
    // Whether the last failure was the server refusing what a row holds (not the link, the
    // login or the schema): another row may well go.
    bool RefusedContent() const;
    // Records that `station` numbers its units with `prefix`, unless another station does:
    // `holder` is the station that holds the prefix.
    bool Claim(const std::string& prefix, const std::string& station, std::string& holder,
               std::string& error);
    struct Link {
        bool encrypted = false;  // TLS in use
        bool verified = false;   // and the server's certificate checked for its host name
    };
    Link Security() const;
    std::vector<UnitRow> Rows(const Filter& filter, std::string& error);
    std::vector<BatchSummary> Summary(const Filter& filter, std::string& error);

  private:
    struct Impl;
    explicit Central(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Why a URL is refused before any connection: it is no connection string, or it holds a
// password (or sslpassword, the client key's), which would show to anyone listing the processes
// (libpq takes it from ~/.pgpass, PGPASSWORD or a service file instead). Empty when it will do.
std::string CentralUrlRefusal(const std::string& url);

}  // namespace journal
