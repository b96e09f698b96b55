#pragma once

// Identities of the controls of the main window (template 103) and of the access-code dialog
// (template 146). Commands, box texts and list selections are all addressed by these numbers.

enum ControlId : int {
    // Main window buttons
    kIdConfigure = 1,           // "Настройка"
    kIdUnlock = 2,              // "Разблокировать UART"; also the window's cancel command
    kIdConnect = 1011,          // " Подключение"
    kIdReadConfiguration = 1021,  // "Читать"
    kIdReadVersion = 1030,      // "посмотреть версию ПО"
    kIdReadColdJunction = 1037,  // "посмотреть"
    kIdAdjust = 1040,           // "юстировать"

    // Main window lists
    kIdSensorTypeList = 1000,
    kIdOutputTypeList = 1005,
    kIdFaultLevelList = 1006,
    kIdLowerSignList = 1015,
    kIdColdJunctionCompensationList = 1016,

    // Main window entry boxes
    kIdUpperLimitEntry = 1004,
    kIdLowerLimitEntry = 1007,
    kIdColdJunctionTemperature = 1047,

    // Main window read-only boxes
    kIdSensorTypeReadback = 1017,
    kIdStatusLine = 1018,
    kIdDetailLine = 1019,
    kIdLowerLimitReadback = 1020,
    kIdUpperLimitReadback = 1022,
    kIdUpperSignReadback = 1025,
    kIdPortNameBox = 1026,
    kIdLowerSignReadback = 1027,
    kIdVersionByte0 = 1048,
    kIdVersionByte2 = 1049,
    kIdVersionByte1 = 1050,

    // Access-code dialog
    kIdAccessCodeEntry = 1017,
    kIdAccessCodeEnter = 1048,
};

// The two message lines of the main window.
inline constexpr int StatusLine = kIdStatusLine;
inline constexpr int DetailLine = kIdDetailLine;
