#include "builder/winget_manifest.h"

#include <nlohmann/json.hpp>

#include "archive/script.h"
#include "builder/archive_texts.h"
#include "builder/execution_level.h"
#include "builder/exit_status.h"
#include "builder/setup_reader.h"
#include "builder/whole_file.h"

namespace {

struct ReturnCode {
    int code;
    const char* response;  // winget's name for what the code means
};

// The setup's exit codes without a person (README, control/unattended.h)
// that winget has a name for; any other code (1603, a failure) winget
// reports as a failure with its number.
const ReturnCode returnCodes[] = {
    {3010, "rebootRequiredToFinish"}, {1641, "rebootInitiated"},   {1602, "cancelledByUser"},
    {1618, "installInProgress"},      {1639, "invalidParameter"},  {112, "diskFull"},
};

nlohmann::ordered_json Fragment(const std::string& scope) {
    nlohmann::ordered_json switches = {{"Silent", "/QUIET"},
                                       {"SilentWithProgress", "/PASSIVE"},
                                       {"InstallLocation", "/TARGET=\"<INSTALLPATH>\""},
                                       {"Log", "/LOG=\"<LOGPATH>\""}};
    nlohmann::ordered_json codes = nlohmann::ordered_json::array();
    for (const ReturnCode& c : returnCodes) codes.push_back({{"InstallerReturnCode", c.code}, {"ReturnResponse", c.response}});
    return {{"InstallerType", "exe"},   {"Scope", scope},           {"InstallerSwitches", switches},
            {"InstallerSuccessCodes", nlohmann::ordered_json::array({0})}, {"ExpectedReturnCodes", codes}};
}

void PrintYaml(const nlohmann::ordered_json& fragment, std::ostream& out) {
    out << "InstallerType: " << fragment["InstallerType"].get<std::string>() << '\n';
    out << "Scope: " << fragment["Scope"].get<std::string>() << '\n';
    out << "InstallerSwitches:\n";
    for (auto& item : fragment["InstallerSwitches"].items())
        out << "  " << item.key() << ": '" << item.value().get<std::string>() << "'\n";
    out << "InstallerSuccessCodes:\n  - 0\n";
    out << "ExpectedReturnCodes:\n";
    for (const auto& code : fragment["ExpectedReturnCodes"])
        out << "  - InstallerReturnCode: " << code["InstallerReturnCode"].get<int>() << "\n    ReturnResponse: "
            << code["ReturnResponse"].get<std::string>() << '\n';
}

}  // namespace

int PrintWingetFragment(const std::string& setupPath, bool json, std::ostream& out, std::ostream& err) {
    LoadedSetup setup(setupPath);
    if (!setup.IsLoaded()) {
        err << "kelvo: error: " << setup.Problem() << '\n';
        return CommandFailed;
    }
    // A setup that asks for no administrator installs for its user.
    std::string scope = ExecutionLevelOf(ReadWholeFile(setupPath)) == "asInvoker" ? "user" : "machine";
    nlohmann::ordered_json fragment = Fragment(scope);
    if (json) {
        out << fragment.dump(2) << '\n';
        return CommandSucceeded;
    }
    out << "# winget installer fields for " << setupPath << "; without /INSTALLSET= it installs set 0, \""
        << Shown(InstallSetText(0, DisplayNameField)) << "\"";
    if (setupScript.setCount > 1) out << " (of " << setupScript.setCount << "; add /INSTALLSET=N to the switches)";
    out << '\n';
    PrintYaml(fragment, out);
    return CommandSucceeded;
}
