// Declares the service object to the exports: registered while devicescan.dll loads, unregistered
// while it unloads.
#include "DeviceScanSP.h"
#include "ExportedObjectDeclaration.h"
#include "StringT.h"

namespace {

const qv::String objectName(L"FileScan.OnDemand.DeviceScanSP");
qv::module::ExportedObjectDeclaration<DeviceScanSP> declaration(objectName.GetString());

}  // namespace
