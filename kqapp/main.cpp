// kqapp: the KQT-50 printer application. An IPP Everywhere printer for every device on the network, whose
// jobs reach the KQT-50 through the kit's own print processor, as they do on Windows.
#include "app.h"
#include "devices.h"
#include "drivers.h"

#include <pappl/pappl.h>

int main(int argc, char* argv[]) {
    // before PAPPL opens or lists any device: its own schemes are then left out
    kqapp::AddDeviceSchemes();
    const auto drivers = kqapp::DriverList();
    return papplMainloop(argc, argv, KQ_VERSION, nullptr, int(drivers.size()), drivers.data(), kqapp::AutoAddDriver,
                         kqapp::FillDriver, nullptr, nullptr, kqapp::CreateSystem, kqapp::Usage, nullptr);
}
