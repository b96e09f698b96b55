#include "app/command_dispatcher.h"
#include "device/cold_junction_adjustment.h"
#include "device/configuration_entry.h"
#include "device/operation_worker.h"
#include "resources/control_ids.h"
#include "serial/port_link.h"

void InstallCommandHandlers() {
    ClearCommandHandlers();
    RegisterCommandHandler(kIdConfigure, ConfigureHandler);
    RegisterCommandHandler(kIdUnlock, UnlockHandler);
    RegisterCommandHandler(kIdUpperLimitEntry, UpperLimitTrackingHandler);
    RegisterCommandHandler(kIdLowerLimitEntry, LowerLimitTrackingHandler);
    RegisterCommandHandler(kIdConnect, ConnectHandler);
    RegisterCommandHandler(kIdReadConfiguration, ReadConfigurationHandler);
    RegisterCommandHandler(kIdReadVersion, ReadVersionHandler);
    RegisterCommandHandler(kIdReadColdJunction, ReadColdJunctionHandler);
    RegisterCommandHandler(kIdAdjust, AdjustHandler);
}
