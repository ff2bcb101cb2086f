// Declares the service object to the exports: registered while devicescan.dll loads, unregistered
// while it unloads.
#include "devicescan/DeviceScanSP.h"
#include "module/ExportedObjectDeclaration.h"
#include "sdk/StringT.h"

namespace {

const qv::String objectName(L"FileScan.OnDemand.DeviceScanSP");
qv::module::ExportedObjectDeclaration<DeviceScanSP> declaration(objectName.GetString());

}  // namespace
