// Where kelvo takes its signing certificate from: the project's [sign]
// table, with paths in the project's folder and never a password, and the
// command line over it. (tests/wine/signing_test.sh signs for real.)
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "builder/build_command.h"
#include "builder/project.h"
#include "tests/support/native_files.h"

namespace {

const char* const PlainSet = R"(
[[set]]
name = "App"
destination = "C:\\App"
[[set.file]]
source = "a.txt"
)";

Project LoadWithSign(const Scratch& scratch, const std::string& sign) {
    WriteText(scratch.path / "a.txt", "a");
    WriteText(scratch.path / "kelvo.toml", std::string(PlainSet) + "\n" + sign);
    return LoadProject(scratch / "kelvo.toml");
}

Arguments ArgumentsOf(const std::vector<std::pair<std::string, std::string>>& options) {
    Arguments arguments;
    for (const auto& [name, value] : options) arguments.options[name] = value;
    return arguments;
}

}  // namespace

TEST_CASE("[sign] names the certificate in the project's folder, and never a password") {
    Scratch scratch("sign-project");
    Project project = LoadWithSign(scratch, "[sign]\ncertificate = \"keys/a.p12\"\npassword-env = \"PW\"\n"
                                            "description = \"App\"\nurl = \"https://example.invalid\"\n"
                                            "timestamp-url = \"http://ts.invalid\"\n");
    const SigningOptions& signing = project.signing;
    CHECK(signing.Enabled());
    CHECK(signing.certificate == scratch / "keys/a.p12");
    CHECK(signing.key.empty());
    CHECK(signing.passwordEnv == "PW");
    CHECK(signing.description == "App");
    CHECK(signing.url == "https://example.invalid");
    CHECK(signing.timestampUrl == "http://ts.invalid");
    CHECK_FALSE(LoadWithSign(scratch, "").signing.Enabled());

    struct Case {
        const char* sign;
        const char* fault;
    };
    const Case cases[] = {
        {"[sign]\ncertificate = \"a.p12\"\npassword = \"secret\"\n", "sign.password: is never written in the project"},
        {"[sign]\ncertificate = \"a.p12\"\npassword-file = \"p\"\npassword-env = \"P\"\n", "not both"},
        {"[sign]\nkey = \"a.key\"\n", "sign.certificate: is missing"},
        {"[sign]\ncertificate = \"\"\n", "sign.certificate: names no file"},
        {"[sign]\ncertificate = \"a.p12\"\npasword-file = \"p\"\n", "unknown key"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sign);
        CHECK_THROWS_WITH_AS(LoadWithSign(scratch, c.sign), doctest::Contains(c.fault), ProjectError);
    }
}

TEST_CASE("the command line's certificate replaces the project's with its secrets; the rest one by one") {
    SigningOptions project;
    project.certificate = "/p/cert.pem";
    project.key = "/p/key.pem";
    project.passwordFile = "/p/pw";
    project.description = "From the project";

    SigningOptions signing = project;
    ApplySigningArguments(ArgumentsOf({{"certificate", "cl.p12"}, {"password-env", "PW"}}), signing);
    CHECK(signing.certificate == "cl.p12");
    CHECK(signing.key.empty());
    CHECK(signing.passwordFile.empty());
    CHECK(signing.passwordEnv == "PW");
    CHECK(signing.description == "From the project");

    signing = project;
    ApplySigningArguments(ArgumentsOf({{"password-env", "PW"}, {"url", "https://u.invalid"}}), signing);
    CHECK(signing.certificate == "/p/cert.pem");
    CHECK(signing.key == "/p/key.pem");
    CHECK(signing.passwordFile.empty());  // the environment replaces the project's file
    CHECK(signing.passwordEnv == "PW");
    CHECK(signing.url == "https://u.invalid");

    SigningOptions none;
    CHECK_THROWS_AS(ApplySigningArguments(ArgumentsOf({{"key", "k.pem"}}), none), UsageError);
    CHECK_THROWS_AS(ApplySigningArguments(ArgumentsOf({{"certificate", "c"}, {"password-file", "f"}, {"password-env", "E"}}), none),
                    UsageError);
}
