// configurator-soak [N]: N operations (default 1000) clicked in the real main window, offscreen,
// against a simulated transmitter inside the process, then what the process gained meanwhile in
// resident memory, open descriptors and threads. Fails on any descriptor or thread more, on
// memory growth of 1 MB or more per 1,000 operations, and on any operation that does not end
// in its success text.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "app/qt/access_code_dialog.h"
#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "device/access_code.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "sim/simulated_transmitter.h"
#include "tests/soak/soak_figures.h"
#include "tests/support/process_resources.h"

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

struct Operation {
    const char* name;
    int identity;
    void (*start)(MainWindow&);  // null: a plain click on `identity`
    std::u16string_view success;
};

const Operation kConnect{"Connect", kIdConnect, nullptr, texts::kVersionRead};
const Operation kRead{"Read configuration", kIdReadConfiguration, nullptr, texts::kSensorRead420};
const Operation kConfigure{"Configure", kIdConfigure, Configure, texts::kWriteDone};
const Operation kColdJunction{"Read cold junction", kIdReadColdJunction, nullptr,
                              texts::kColdJunctionRead};
const Operation kAdjust{"Adjust", kIdAdjust, Adjust, texts::kAdjustSucceeded};
const Operation kVersion{"Read version", kIdReadVersion, nullptr, texts::kVersionRead};

// Every kind once at the start, then the one-second readings, so that a short run still meets
// every operation and a long one averages about 1.5 s an operation.
const Operation* const kCycle[] = {
    &kConnect,      &kRead,         &kConfigure,    &kColdJunction, &kAdjust,
    &kVersion,      &kColdJunction, &kVersion,      &kColdJunction, &kVersion,
    &kColdJunction, &kVersion,      &kColdJunction, &kVersion,      &kColdJunction,
    &kVersion,      &kColdJunction, &kVersion,      &kColdJunction, &kVersion,
};
constexpr int kCycleLength = static_cast<int>(std::size(kCycle));
// A whole cycle before the figures are taken: fonts, caches, the allocator's per-thread arenas
// and Qt's own threads settle.
constexpr int kWarmUp = kCycleLength;

// The access-code dialog and message boxes run modal loops inside the click that raised them,
// so they are answered from a timer. No message box is expected.
void AnswerModal(MainWindow& window, int& message_boxes) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &window) return;
    if (auto* dialog = qobject_cast<AccessCodeDialog*>(modal)) {
        if (auto* box = qobject_cast<QLineEdit*>(FindControl(*dialog, kIdAccessCodeEntry))) {
            box->setText(QString::number(kAccessCode));
        }
        if (auto* enter =
                qobject_cast<QAbstractButton*>(FindControl(*dialog, kIdAccessCodeEnter))) {
            enter->click();
        }
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        ++message_boxes;
        std::printf("soak: message box \"%s\"\n", box->text().toUtf8().constData());
        box->button(QMessageBox::Ok)->click();
    }
}

// The worker's box updates are carried to this thread, so the wait runs events.
bool WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + kOperationPatience;
    while (ReadyFlag.load() != 1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QApplication::processEvents();
    return true;
}

// Runs one operation; false when it did not end in its success text.
bool Run(MainWindow& window, const Operation& operation) {
    if (operation.start != nullptr) {
        operation.start(window);
    } else {
        Click(window, operation.identity);
    }
    if (!WaitUntilReady()) {
        std::printf("soak: %s did not end within %lld s\n", operation.name,
                    static_cast<long long>(std::chrono::seconds(kOperationPatience).count()));
        return false;
    }
    const std::u16string status = window.GetItemText(StatusLine, 255);
    if (status == operation.success) return true;
    std::printf("soak: %s ended in \"%s\"\n", operation.name,
                ToQString(status).trimmed().toUtf8().constData());
    return false;
}

std::optional<int> OperationCount(int argc, char** argv) {
    if (argc < 2) return 1000;
    char* end = nullptr;
    const long count = std::strtol(argv[1], &end, 10);
    if (argc > 2 || end == argv[1] || *end != '\0' || count < 1 || count > 10'000'000) {
        return std::nullopt;
    }
    return static_cast<int>(count);
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<int> operations = OperationCount(argc, argv);
    if (!operations) {
        std::fprintf(stderr, "usage: %s [OPERATIONS]  (default 1000)\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int qt_argc = 1;
    QApplication application(qt_argc, argv);
    // Qt's pool threads (font loading and the like) end after 30 idle seconds and come back when
    // needed, which would move the thread count without anything having leaked.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);

    sim::SimulatedTransmitter device;
    if (!device.IsRunning()) {
        std::printf("soak: no pseudo-terminal for the simulated transmitter\n");
        return 1;
    }
    const std::string path = device.PortPath();
    const std::u16string port(path.begin(), path.end());
    SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });
    InstallCommandHandlers();

    MainWindow window;
    window.show();
    int message_boxes = 0;
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, &window,
                     [&] { AnswerModal(window, message_boxes); });
    answering.start(20);

    int failed = 0;
    const auto run = [&](int i) {
        failed += Run(window, *kCycle[i % kCycleLength]) ? 0 : 1;
        // The simulated transmitter records every byte and message for tests; kept, that record
        // would count as the configurator's growth.
        device.ClearRecords();
    };
    for (int i = 0; i < kWarmUp; ++i) run(i);
    // The last worker thread is still on its way out when the window takes commands again.
    const auto settle = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < settle) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const ProcessResources before = CurrentProcessResources();
    const std::vector<std::string> handles_before = ProcessHandles();
    std::printf("soak: warmed up; %d operations on %s\n", *operations, path.c_str());

    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < *operations; ++i) {
        run(i);
        if ((i + 1) % 100 == 0 && i + 1 < *operations) {
            const ProcessResources now = CurrentProcessResources();
            std::printf("soak: %d of %d operations, resident memory %+.2f MB\n", i + 1, *operations,
                        static_cast<double>(now.resident_kb - before.resident_kb) / 1024.0);
        }
    }
    const auto minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started) / 60s;
    const ProcessResources after = SettledProcessResources(before, 2s);
    const std::string new_handles = NewHandles(handles_before, ProcessHandles());

    answering.stop();
    SetPortListSource({});

    const SoakVerdict verdict = JudgeSoak(*operations, before, after);
    std::printf("soak: %.1f minutes, %d operations failed, %d message boxes\n", minutes, failed,
                message_boxes);
    for (const std::string& failure : verdict.failures) {
        std::printf("soak: FAILED: %s\n", failure.c_str());
    }
    if (!verdict.passed && !new_handles.empty()) {
        std::printf("soak: threads and descriptors that were not there before:\n%s",
                    new_handles.c_str());
    }
    if (failed > 0) std::printf("soak: FAILED: %d operations did not succeed\n", failed);
    std::printf("%s\n", verdict.figure.c_str());
    return verdict.passed && failed == 0 ? 0 : 1;
}
