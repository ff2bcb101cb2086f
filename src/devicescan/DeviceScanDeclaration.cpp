// Declares the service object to the exports: registered while devicescan.dll loads, unregistered
// while it unloads.
#include "devicescan/DeviceScanSP.h"
#include "module/ExportedObjectDeclaration.h"
#include "sdk/StringT.h"

namespace {

const qv::String objectName(L"FileScan.OnDemand.DeviceScanSP");
devicescan::module::ExportedObjectDeclaration<devicescan::service::DeviceScanSP> declaration(
    objectName.GetString());

}  // namespace
