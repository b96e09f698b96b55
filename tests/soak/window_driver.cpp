#include "tests/soak/window_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "app/qt/access_code_dialog.h"
#include "app/qt/dialog_builder.h"
#include "device/access_code.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"

namespace {

using namespace std::chrono_literals;

// Well beyond the longest operation (the adjustment, about 8 s).
constexpr auto kOperationPatience = 30s;

void Click(MainWindow& window, int identity) {
    if (auto* button = qobject_cast<QAbstractButton*>(window.Control(identity))) button->click();
}

// Pasted rather than typed key by key: typing would also grow the box's undo history.
void Paste(MainWindow& window, int identity, const QString& text) {
    if (auto* box = qobject_cast<QLineEdit*>(window.Control(identity))) box->setText(text);
}

void Pick(MainWindow& window, int list, int index) {
    if (auto* box = qobject_cast<QComboBox*>(window.Control(list))) box->setCurrentIndex(index);
}

void Configure(MainWindow& window) {
    Pick(window, kIdSensorTypeList, 3);  // "K ТП "
    Paste(window, kIdUpperLimitEntry, QStringLiteral("300"));
    Pick(window, kIdLowerSignList, 1);  // "-"
    Paste(window, kIdLowerLimitEntry, QStringLiteral("50"));
    Pick(window, kIdOutputTypeList, 0);                // "4-20mA"
    Pick(window, kIdFaultLevelList, 0);                // "Высокий"
    Pick(window, kIdColdJunctionCompensationList, 0);  // "Да."
    Click(window, kIdConfigure);
}

void Adjust(MainWindow& window) {
    Paste(window, kIdColdJunctionTemperature, QStringLiteral("25.0"));
    Click(window, kIdAdjust);
}

// The worker's box updates are carried to this thread, so the wait runs events. It sleeps in
// between rather than spin: on a small machine a spinning thread would take the processor from
// the worker and the simulated transmitter it is waiting for. The answering timer wakes it.
bool WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + kOperationPatience;
    while (ReadyFlag.load() != 1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace

const Operation kConnect{"Connect", kIdConnect, nullptr, texts::kVersionRead};
const Operation kRead{"Read configuration", kIdReadConfiguration, nullptr, texts::kSensorRead420};
const Operation kConfigure{"Configure", kIdConfigure, Configure, texts::kWriteDone};
const Operation kColdJunction{"Read cold junction", kIdReadColdJunction, nullptr,
                              texts::kColdJunctionRead};
const Operation kAdjust{"Adjust", kIdAdjust, Adjust, texts::kAdjustSucceeded};
const Operation kVersion{"Read version", kIdReadVersion, nullptr, texts::kVersionRead};
// Unlocking shows nothing of its own: the opening's text is all there is.
const Operation kUnlock{"Unlock", kIdUnlock, nullptr, texts::kPortOpened};

// Offscreen unless a platform is asked for, and every line out at once, so that a long run can
// be followed.
int WindowDriver::PrepareApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Qt's pool threads (font loading and the like) end after 30 idle seconds and come back when
    // needed, which would move the thread count without anything having leaked; a thread
    // already idle keeps the expiry it started waiting with, hence before the window.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    return 1;
}

int RunDriverProgram(int argc, char** argv, const DriverProgram& program) {
    long count = program.default_count;
    if (argc > 1) {
        char* end = nullptr;
        count = std::strtol(argv[1], &end, 10);
        if (argc > 2 || end == argv[1] || *end != '\0' || count < 1 || count > 10'000'000) {
            std::fprintf(stderr, "usage: %s [%s]  (default %d)\n", argv[0], program.count_name,
                         program.default_count);
            return 2;
        }
    }
    WindowDriver driver(program.name, argv);
    if (!driver.IsRunning()) return 1;
    return program.body(driver, static_cast<int>(count));
}

WindowDriver::PortList::PortList(const std::string& path) {
    const std::u16string port(path.begin(), path.end());
    SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });
    InstallCommandHandlers();
}

WindowDriver::PortList::~PortList() {
    SetPortListSource({});
}

WindowDriver::WindowDriver(const char* program, char** argv)
    : program_(program),
      application_(qt_argc_, argv),
      port_path_(device_.PortPath()),
      port_list_(port_path_) {
    if (!device_.IsRunning()) {
        std::printf("%s: no pseudo-terminal for the simulated transmitter\n", program_);
    }
    window_.show();
    QObject::connect(&answering_, &QTimer::timeout, &window_, [this] { AnswerModal(); });
    answering_.start(20);
}

// The access-code dialog and message boxes run modal loops inside the click that raised them,
// so they are answered from a timer. No message box is expected.
void WindowDriver::AnswerModal() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &window_) return;
    if (auto* dialog = qobject_cast<AccessCodeDialog*>(modal)) {
        if (auto* box = qobject_cast<QLineEdit*>(FindControl(*dialog, kIdAccessCodeEntry))) {
            box->setText(QString::number(kAccessCode));
        }
        if (auto* enter =
                qobject_cast<QAbstractButton*>(FindControl(*dialog, kIdAccessCodeEnter))) {
            enter->click();
        }
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        ++message_boxes_;
        std::printf("%s: message box \"%s\"\n", program_, box->text().toUtf8().constData());
        box->button(QMessageBox::Ok)->click();
    }
}

std::optional<std::chrono::steady_clock::time_point> WindowDriver::Run(const Operation& operation) {
    if (operation.start != nullptr) {
        operation.start(window_);
    } else {
        Click(window_, operation.identity);
    }
    if (!WaitUntilReady()) {
        std::printf("%s: %s did not end within %lld s\n", program_, operation.name,
                    static_cast<long long>(std::chrono::seconds(kOperationPatience).count()));
        return std::nullopt;
    }
    const auto ended = std::chrono::steady_clock::now();
    QApplication::processEvents();
    const std::u16string status = window_.GetItemText(StatusLine, 255);
    if (status == operation.success) return ended;
    std::printf("%s: %s ended in \"%s\"\n", program_, operation.name,
                ToQString(status).trimmed().toUtf8().constData());
    return std::nullopt;
}
