#include <windows.h>

#include <string>
#include <vector>

#include "host/app/ExitCode.h"
#include "host/app/HostApp.h"
#include "host/app/HostOptions.h"
#include "host/output/LineWriter.h"
#include "sdk/Utf8.h"

int wmain(int argc, wchar_t** argv) {
    namespace host = devicescan::host;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    std::wstring problem;
    const auto options = host::HostOptions::Parse(args, problem);
    if (!options) {
        const host::LineWriter error(STD_ERROR_HANDLE);
        error.Write(qv::ToUtf8(L"devicescan-host: " + problem));
        error.Write(qv::ToUtf8(host::HostOptions::Usage()));
        return static_cast<int>(host::ExitCode::kUsage);
    }
    if (options->help) {
        host::LineWriter(STD_OUTPUT_HANDLE).Write(qv::ToUtf8(host::HostOptions::Usage()));
        return static_cast<int>(host::ExitCode::kSuccess);
    }
    return host::HostApp(*options).Run();
}
