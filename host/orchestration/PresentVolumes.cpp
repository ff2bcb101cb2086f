#include "host/orchestration/PresentVolumes.h"

#include <windows.h>

#include <string>
#include <utility>

#include "drives/DriveClassification.h"
#include "host/orchestration/VolumeScanner.h"
#include "sdk/StringT.h"

namespace devicescan::host {

PresentVolumes::PresentVolumes(EventPrinter printer, VolumeScanner* scanner)
    : printer(std::move(printer)), scanner(scanner) {}

int PresentVolumes::ScanAll() const {
    int offered = 0;
    const DWORD letters = GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if ((letters & (1u << bit)) == 0) {
            continue;
        }
        const std::wstring root{static_cast<wchar_t>(L'A' + bit), L':', L'\\'};
        const auto drive = service::ClassifyDrive(qv::String(root.c_str()));
        if (drive.verdict != service::DriveClassification::Verdict::kOffered) {
            continue;
        }
        printer.Present(root, drive.deviceType);
        if (scanner != nullptr) {
            scanner->Enqueue(root);
        }
        ++offered;
    }
    return offered;
}

}  // namespace devicescan::host
