// Renders the two windows offscreen into PNG files, to look at the layout without a display:
//   window-screenshot [folder]     (default: screenshots)
// writes main-window.png (as the window opens), main-window-filled.png (with sample results
// and picks, to check that texts fit their boxes) and access-dialog.png.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/main_window.h"
#include "app/qt/access_code_dialog.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    QApplication::processEvents();
    if (widget.grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

void FillWithSamples(MainWindow& window) {
    window.SetItemText(kIdPortNameBox, u"ttyS0");
    window.SetItemText(kIdSensorTypeReadback, u"K ТП ");
    window.SetItemText(kIdUpperSignReadback, u"+");
    window.SetItemText(kIdUpperLimitReadback, u"1300.");
    window.SetItemText(kIdLowerSignReadback, u"-");
    window.SetItemText(kIdLowerLimitReadback, u"200.");
    window.SetItemText(kIdVersionByte0, u"1");
    window.SetItemText(kIdVersionByte1, u"2");
    window.SetItemText(kIdVersionByte2, u"13");
    window.SetItemText(kIdDetailLine, texts::kFaultHigh);
    window.SetItemText(kIdStatusLine, texts::kSensorRead420);
    window.SetItemText(kIdUpperLimitEntry, u"1300");
    window.SetItemText(kIdLowerLimitEntry, u"200");
    window.SetItemText(kIdColdJunctionTemperature, u"25.");
    const std::pair<int, int> picks[] = {
        {kIdSensorTypeList, 3},
        {kIdOutputTypeList, 0},
        {kIdFaultLevelList, 0},
        {kIdLowerSignList, 1},
        {kIdColdJunctionCompensationList, 0},
    };
    for (auto [identity, index] : picks) {
        if (auto* list = qobject_cast<QComboBox*>(window.Control(identity))) {
            list->setCurrentIndex(index);
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }
    // The picture must not depend on the serial ports of the machine it is taken on.
    SetPortListSource([] { return std::optional<std::vector<std::u16string>>{}; });

    bool saved = true;
    {
        MainWindow window;
        saved &= Save(window, folder + QStringLiteral("/main-window.png"));
        AccessCodeDialog dialog(&window);
        saved &= Save(dialog, folder + QStringLiteral("/access-dialog.png"));
        dialog.hide();
        FillWithSamples(window);
        saved &= Save(window, folder + QStringLiteral("/main-window-filled.png"));
    }
    return saved ? 0 : 1;
}
