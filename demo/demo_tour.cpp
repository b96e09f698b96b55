#include "demo/demo_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <string_view>

#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "app/operation_state.h"
#include "device/access_code.h"
#include "app/qt/access_code_dialog.h"
#include "resources/control_ids.h"
#include "resources/texts.h"

namespace {

// Well beyond the longest operation (the adjustment, about 8 s), for a slow machine.
constexpr auto kStepPatience = std::chrono::seconds(30);

struct Tour {
    MainWindow& window;
    std::FILE* out;
    // Typed into the access-code dialog when it shows.
    QString access_code;
};

void Print(std::FILE* out, const QString& line) {
    std::fprintf(out, "%s\n", line.toUtf8().constData());
    std::fflush(out);
}

QString Text(MainWindow& window, int identity) {
    return ToQString(window.GetItemText(identity, 255)).simplified();
}

void Click(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) button->click();
}

// Key by key, as typed: every keystroke is a text change, and so a command of the box.
void Type(QWidget* control, const QString& text) {
    auto* box = qobject_cast<QLineEdit*>(control);
    if (box == nullptr) return;
    box->setFocus();
    box->selectAll();
    for (const QChar c : text) {
        // Qt's key codes of printable ASCII are the characters' upper-case codes.
        const int key = c.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &release);
    }
}

void Pick(MainWindow& window, int list, int index) {
    if (auto* box = qobject_cast<QComboBox*>(window.Control(list))) box->setCurrentIndex(index);
}

// The access-code dialog and message boxes run their own modal loops inside the click that
// raised them, so they are answered from a timer: the code when asked for it, OK to any
// message box, which a step that goes as planned never raises.
void AnswerModal(Tour& tour) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &tour.window) return;
    if (auto* dialog = qobject_cast<AccessCodeDialog*>(modal)) {
        Type(FindControl(*dialog, kIdAccessCodeEntry), tour.access_code);
        Click(FindControl(*dialog, kIdAccessCodeEnter));
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Print(tour.out, QStringLiteral("  message box \"%1\": %2")
                            .arg(box->windowTitle(), box->text().simplified()));
        Click(box->button(QMessageBox::Ok));
    }
}

// The worker writes into the window through the interface thread, so the wait runs events.
bool WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + kStepPatience;
    bool ready = false;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        ready = ReadyFlag.load() == 1;
        if (ready || std::chrono::steady_clock::now() > deadline) loop.quit();
    });
    poll.start(20);
    loop.exec();
    return ready;
}

void Connect(Tour& tour) {
    Click(tour.window.Control(kIdConnect));
}

void ReadConfiguration(Tour& tour) {
    Click(tour.window.Control(kIdReadConfiguration));
}

void Configure(Tour& tour) {
    MainWindow& window = tour.window;
    Pick(window, kIdSensorTypeList, 3);  // "K ТП "
    Type(window.Control(kIdUpperLimitEntry), QStringLiteral("300"));
    Pick(window, kIdLowerSignList, 1);  // "-"
    Type(window.Control(kIdLowerLimitEntry), QStringLiteral("50"));
    Pick(window, kIdOutputTypeList, 0);                // "4-20mA"
    Pick(window, kIdFaultLevelList, 0);                // "Высокий"
    Pick(window, kIdColdJunctionCompensationList, 0);  // "Да."
    Click(window.Control(kIdConfigure));
}

void ReadColdJunction(Tour& tour) {
    Click(tour.window.Control(kIdReadColdJunction));
}

void Adjust(Tour& tour) {
    Type(tour.window.Control(kIdColdJunctionTemperature), QStringLiteral("25.0"));
    tour.access_code = QString::number(kAccessCode);
    Click(tour.window.Control(kIdAdjust));
}

QString ShowsVersion(MainWindow& window) {
    return QStringLiteral("port %1, firmware %2.%3.%4")
        .arg(Text(window, kIdPortNameBox), Text(window, kIdVersionByte0),
             Text(window, kIdVersionByte1), Text(window, kIdVersionByte2));
}

QString ShowsConfiguration(MainWindow& window) {
    return QStringLiteral("%1, max %2%3, min %4%5, %6")
        .arg(Text(window, kIdSensorTypeReadback), Text(window, kIdUpperSignReadback),
             Text(window, kIdUpperLimitReadback), Text(window, kIdLowerSignReadback),
             Text(window, kIdLowerLimitReadback), Text(window, DetailLine));
}

QString ShowsEntry(MainWindow& window) {
    return QStringLiteral("written: %1, max %2, min %3%4, %5, fault %6, compensation %7")
        .arg(Text(window, kIdSensorTypeList), Text(window, kIdUpperLimitEntry),
             Text(window, kIdLowerSignList), Text(window, kIdLowerLimitEntry),
             Text(window, kIdOutputTypeList), Text(window, kIdFaultLevelList),
             Text(window, kIdColdJunctionCompensationList));
}

QString ShowsColdJunction(MainWindow& window) {
    return QStringLiteral("cold junction %1 °C").arg(Text(window, kIdColdJunctionTemperature));
}

QString ShowsAdjustment(MainWindow& window) {
    return QStringLiteral("adjusted to %1 °C, read back and judged by the transmitter's answer")
        .arg(Text(window, kIdColdJunctionTemperature));
}

struct Step {
    const char* name;
    const char* picture;
    void (*act)(Tour&);
    std::u16string_view success;
    QString (*shows)(MainWindow&);
};

const Step kSteps[] = {
    {"Connect", "01-connect.png", Connect, texts::kVersionRead, ShowsVersion},
    {"Read configuration", "02-read-configuration.png", ReadConfiguration, texts::kSensorRead420,
     ShowsConfiguration},
    {"Configure", "03-configure.png", Configure, texts::kWriteDone, ShowsEntry},
    {"Read configuration again", "04-read-configuration-again.png", ReadConfiguration,
     texts::kSensorRead420, ShowsConfiguration},
    {"Read cold-junction temperature", "05-read-cold-junction.png", ReadColdJunction,
     texts::kColdJunctionRead, ShowsColdJunction},
    {"Adjust to 25.0 with code 8163", "06-adjust.png", Adjust, texts::kAdjustSucceeded,
     ShowsAdjustment},
};

}  // namespace

bool RunTour(MainWindow& window, const QString& folder, std::FILE* out) {
    if (!QDir().mkpath(folder)) {
        Print(out, QStringLiteral("cannot create the folder %1").arg(folder));
        return false;
    }
    Tour tour{window, out, {}};
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, &window, [&tour] { AnswerModal(tour); });
    answering.start(50);

    const int count = static_cast<int>(std::size(kSteps));
    for (int i = 0; i < count; ++i) {
        const Step& step = kSteps[i];
        Print(out, QStringLiteral("Step %1 of %2: %3").arg(i + 1).arg(count).arg(step.name));
        step.act(tour);
        const bool ready = WaitUntilReady();
        const QString status = ToQString(window.GetItemText(StatusLine, 255));
        Print(out, QStringLiteral("  status:  %1").arg(status.trimmed()));
        Print(out, QStringLiteral("  shows:   %1").arg(step.shows(window)));

        const QString picture = QDir(folder).filePath(QString::fromLatin1(step.picture));
        const bool saved = window.grab().save(picture, "PNG");
        Print(out, saved ? QStringLiteral("  picture: %1").arg(picture)
                         : QStringLiteral("  cannot write %1").arg(picture));

        if (!ready) {
            Print(out, QStringLiteral("  FAILED: the operation did not end within %1 s")
                           .arg(std::chrono::seconds(kStepPatience).count()));
            return false;
        }
        if (status != ToQString(step.success)) {
            Print(
                out,
                QStringLiteral("  FAILED: expected \"%1\"").arg(ToQString(step.success).trimmed()));
            return false;
        }
        if (!saved) return false;
    }
    Print(out,
          QStringLiteral("All %1 steps succeeded; the pictures are in %2.").arg(count).arg(folder));
    return true;
}
