// Certificates, batch reports and labels made from a journal, read back with the tools a user
// has: qpdf, poppler's pdffonts, pdftotext and pdftoppm, and zbarimg; labels as ZPL text and
// on a printer's port.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "journal/journal.h"
#include "tests/support/label_printer.h"

namespace {

namespace fs = std::filesystem;

const std::string kProfile =
    R"({"sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high","compensation":"on"})";
const std::string kFound =
    R"({"port":"pts/3","firmware":"1.0.3","sensor":"PT100","upper":100,"lower":0,"output":"4-20","fault":"low"})";
const std::string kLeft =
    R"({"port":"pts/3","firmware":"1.0.3","sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high"})";

std::string IdOf(int n) {
    return "00000000-0000-4000-8000-00000000000" + std::to_string(n);
}

// Standard output of a shell command, and its exit status.
std::string Shell(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    status = ::pclose(pipe);
    return out;
}
std::string Shell(const std::string& command) {
    int status = 0;
    return Shell(command, status);
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Paper : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        folder =
            fs::temp_directory_path() / ("report-test-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::string error;
        journal = journal::Journal::Open((folder / "journal.sqlite3").string(), error);
        ASSERT_TRUE(journal) << error;
        // 0001 passed; 0002 failed its adjustment, its operator's name with a terminal's escape;
        // 0003 firmware x.y.0; 0004 still running.
        Add(1, "B-1", "anna", "pass", kLeft, "");
        Add(2, "B-1", "anna\x1b[31m", "fail", kLeft,
            "cold junction reads 27.5 after adjusting to 25.0");
        Add(3, "B-1", "anna", "pass",
            R"({"firmware":"1.1.0","sensor":"K","upper":300,"lower":-50})",
            "not compared: output, fault");
        Add(4, "B-1", "anna", "", "", "");
    }
    void TearDown() override { fs::remove_all(folder); }

    void Add(int n, const std::string& batch, const std::string& operator_name,
             const std::string& verdict, const std::string& as_left, const std::string& error) {
        journal::UnitRow row;
        row.id = n < 10 ? IdOf(n) : "";
        row.batch = batch;
        row.station = "bench1";
        row.slot = "/dev/ttyUSB0";
        row.operator_name = operator_name;
        row.profile = kProfile;
        row.started_at = "2026-12-08T10:42:05.123Z";
        std::string failure;
        ASSERT_TRUE(journal->Begin(row, failure)) << failure;
        if (verdict.empty()) return;
        row.finished_at = "2026-12-08T10:42:11.456Z";
        row.firmware = "1.0.3";
        row.as_found = kFound;
        row.as_left = as_left;
        row.cold_junction = 27.5;
        row.verdict = verdict;
        row.error = error;
        row.tries = 1;
        ASSERT_TRUE(journal->Finish(row, failure)) << failure;
    }

    int Run(const std::string& line, std::string& out, std::string& err) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) args.push_back(word);
        args.push_back("--journal");
        args.push_back((folder / "journal.sqlite3").string());
        std::istringstream in;
        std::ostringstream o, e;
        CliStreams io{in, o, e, {}, {}};
        const int code = RunCommandLine(args, io);
        out = o.str();
        err = e.str();
        return code;
    }

    fs::path folder;
    std::unique_ptr<journal::Journal> journal;
};

struct CertificateCase {
    const char* name;
    std::string args;  // the output file follows
    int exit_code;
    std::vector<std::string> shows;  // in the PDF's text; on failure, in the error
    std::string qr;                  // what the QR code on the first page reads; "" for none
    int batch_units = 0;             // more units of batch B-100 first
};
void PrintTo(const CertificateCase& row, std::ostream* os) {
    *os << row.name;
}

class Certificate : public Paper, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(Certificate, ReadsAsItsReaderWouldReadIt) {
    const CertificateCase& row = GetParam();
    for (int i = 0; i < row.batch_units; ++i) Add(10 + i, "B-100", "boris", "pass", kLeft, "");
    const fs::path pdf = folder / "out.pdf", again = folder / "again.pdf";
    std::string out, err;
    ASSERT_EQ(Run(row.args + " -o " + pdf.string(), out, err), row.exit_code) << err;
    if (row.exit_code != 0) {
        for (const std::string& text : row.shows)
            EXPECT_NE(err.find(text), std::string::npos) << err;
        EXPECT_FALSE(fs::exists(pdf));
        return;
    }
    int status = 0;
    Shell("qpdf --check " + pdf.string(), status);
    EXPECT_EQ(status, 0) << "qpdf --check";
    const std::string fonts = Shell("pdffonts " + pdf.string());
    EXPECT_NE(fonts.find("DejaVuSans"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find(" yes yes yes "), std::string::npos) << "not embedded: " << fonts;
    EXPECT_LE(fs::file_size(pdf), 150u * 1024);
    const std::string text = Shell("pdftotext -layout " + pdf.string() + " -");
    for (const std::string& wanted : row.shows) {
        EXPECT_NE(text.find(wanted), std::string::npos) << wanted << " not in:\n" << text;
    }
    if (!row.qr.empty()) {
        Shell("pdftoppm -r 150 -png -f 1 -l 1 " + pdf.string() + " " + (folder / "page").string());
        const std::string read = Shell("zbarimg -q --raw " + (folder / "page-1.png").string());
        std::string wanted = row.qr;
        wanted.replace(wanted.find("@SHA@"), 5, journal::Sha256Hex(kProfile));
        EXPECT_EQ(read, wanted + "\n");
        // The README's picture of a certificate is this page.
        const std::string unit = row.args.substr(row.args.find(' ') + 1);
        fs::copy_file(folder / "page-1.png", "certificate-" + unit + ".png",
                      fs::copy_options::overwrite_existing);
    }
    const int pages = std::stoi(Shell("pdfinfo " + pdf.string() + " | sed -n 's/^Pages: *//p'"));
    for (int page = 1; row.batch_units > 0 && page <= pages; ++page) {
        const std::string shown = Shell("pdftotext -f " + std::to_string(page) + " -l " +
                                        std::to_string(page) + " " + pdf.string() + " -");
        const std::string numbers = "page " + std::to_string(page) + " of " + std::to_string(pages);
        EXPECT_NE(shown.find("Batch B-100"), std::string::npos) << "page " << page;
        EXPECT_NE(shown.find(numbers), std::string::npos) << numbers;
    }
    ASSERT_EQ(Run(row.args + " -o " + again.string(), out, err), 0) << err;
    EXPECT_EQ(Bytes(pdf), Bytes(again)) << "the same row made other bytes";
}

// One row a few lines; the formatter would spread each field over its own line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Units, Certificate, ::testing::ValuesIn(std::vector<CertificateCase>{
    {"a passed unit shows its number, what was found and left, its verdict, in Russian too",
     "certificate BENCH1-0001", 0,
     {"Протокол настройки", "Commissioning record", "№ BENCH1-0001", "id " + IdOf(1),
      "Как найдено и как оставлено / As found and as left", "PT100", "-50 … 300 °C",
      "ГОДЕН", "PASS", "Утвердил / Approved by", "относятся только к изделию № BENCH1-0001",
      "стр. 1 из 1 / page 1 of 1", "нет / none"},
     IdOf(1) + " @SHA@"},
    {"a unit named by its id; a failed adjustment shows the target, the rule and БРАК",
     "certificate " + IdOf(2), 0,
     {"№ BENCH1-0002", "Adjusted to", "25.0 °C", "27.5 °C", "±1 °C", "БРАК", "FAIL",
      "anna?[31m", "cold junction reads 27.5 after adjusting to 25.0"},
     IdOf(2) + " @SHA@"},
    {"firmware x.y.0: output and fault level named as not compared", "certificate BENCH1-0003", 0,
     {"Not compared", "Выход, мА / Output, mA; Уровень при отказе / Fault level"}, ""},
    {"a unit still running gets no certificate", "certificate BENCH1-0004", 1,
     {"unit BENCH1-0004 has no verdict"}, ""},
    {"a unit not in the journal gets none", "certificate BENCH1-0999", 1,
     {"the journal has no unit BENCH1-0999"}, ""},
    {"a batch of 100 units: every page carries the batch and its number", "certificate --batch B-100",
     0, {"Отчёт по партии", "Изделий / Units", "100", "Итого / Totals", "BENCH1-0104", "boris"},
     "", 100},
}));
// clang-format on

TEST_F(Paper, LabelOfAPassedUnitIsThisZpl) {
    std::string out, err;
    ASSERT_EQ(Run("label BENCH1-0001", out, err), 0) << err;
    EXPECT_EQ(out,
              "^XA\n^CI28\n^PW400\n^LL200\n"
              "^FO16,14^A0N,34,34^FH\\^FDBENCH1-0001^FS\n"
              "^FO16,58^A0N,24,24^FH\\^FDДатчик K^FS\n"
              "^FO16,88^A0N,24,24^FH\\^FD-50 … 300 °C^FS\n"
              "^FO16,118^A0N,24,24^FH\\^FDВыход 4-20 mA^FS\n"
              "^FO16,150^A0N,20,20^FH\\^FDДата 2026-12-08^FS\n"
              "^FO250,10^BQN,2,3^FH\\^FDMA," +
                  IdOf(1) + " " + journal::Sha256Hex(kProfile) + "^FS\n^XZ\n");
    // A failed unit's housing gets no range it was not set to.
    EXPECT_EQ(Run("label BENCH1-0002", out, err), 1);
    EXPECT_NE(err.find("BENCH1-0002 failed"), std::string::npos) << err;
}

TEST_F(Paper, LabelGoesWholeToThePrinterAndAClosedPortIsSaid) {
    LabelPrinter printer;
    std::string zpl, out, err;
    ASSERT_EQ(Run("label BENCH1-0001", zpl, err), 0) << err;
    ASSERT_EQ(Run("label BENCH1-0001 --printer " + printer.Address(), out, err), 0) << err;
    EXPECT_EQ(out, "printed the label of BENCH1-0001 on " + printer.Address() + "\n");
    EXPECT_EQ(printer.Received(1), std::vector<std::string>{zpl});

    const std::string dead = LabelPrinter::DeadAddress();
    EXPECT_EQ(Run("label BENCH1-0001 --printer " + dead, out, err), 1);
    EXPECT_EQ(err,
              "transmitter-cli: label: printer " + dead + ": cannot connect: Connection refused\n");
}

}  // namespace
