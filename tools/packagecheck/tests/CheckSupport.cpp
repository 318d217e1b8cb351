#include "CheckSupport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// Everything left to read of `stream`.
std::string ReadRest(FILE* stream)
{
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

void TempPackage::Write(const std::string& name, const std::string& bytes) const
{
    fs::path file = fs::path(path()) / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string TempPackage::Read(const std::string& name) const
{
    return ReadFile(File(name));
}

void TempPackage::CopyFrom(const std::string& folder) const
{
    fs::copy(folder, path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path())) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
}

void TempPackage::AddCompanionTool() const
{
    Write(kCompanionToolName, "tool");
    Write(kCompanionTool64Name, "tool");
}

std::string ReadFile(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

CheckRun RunCommand(const std::string& command)
{
    CheckRun run{-1, ""};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    run.output = ReadRest(pipe);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TestSigner::TestSigner()
    : certificate_(folder_.File("signer.pem")),
      pkcs12_(folder_.File("signer.p12")),
      passwordFile_(folder_.File("password.txt")),
      key_(folder_.File("signer.key"))
{
    folder_.Write("password.txt", "throw-away password");
    const std::string& key = key_;
    CheckRun made = RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/O=MERVO Test/CN=MERVO Test Signing'"
        " -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature -keyout '" +
        key + "' -out '" + certificate_ + "' && openssl pkcs12 -export -inkey '" + key + "' -in '" +
        certificate_ + "' -out '" + pkcs12_ + "' -passout 'file:" + passwordFile_ + "'");
    EXPECT_EQ(0, made.exitCode) << made.output;
}

bool TestSigner::Sign(const std::string& in, const std::string& out, const std::string& hash) const
{
    std::error_code ignored;
    fs::remove(out, ignored);
    CheckRun run = RunCommand("osslsigncode sign -pkcs12 '" + pkcs12_ + "' -readpass '" + passwordFile_ +
                              "' -h " + hash + " -in '" + in + "' -out '" + out + "'");
    EXPECT_EQ(0, run.exitCode) << run.output;
    return run.exitCode == 0;
}

TestPki::TestPki()
{
    CheckRun made = RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=MERVO Test Root'"
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
        " -keyout '" +
        folder_.File("root.key") + "' -out '" + root() + "'");
    EXPECT_EQ(0, made.exitCode) << made.output;
}

bool TestPki::Issue(const std::string& name, const std::string& commonName, const std::string& extensions,
                    int days) const
{
    folder_.Write(name + ".ext", extensions + "\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n");
    CheckRun made = RunCommand(
        "openssl req -new -newkey rsa:2048 -nodes -subj '/CN=" + commonName + "' -keyout '" +
        folder_.File(name + ".key") + "' | openssl x509 -req -CA '" + root() + "' -CAkey '" +
        folder_.File("root.key") + "' -set_serial " + std::to_string(rand() % 1000000 + 2) + " -days " +
        std::to_string(days) + " -extfile '" + folder_.File(name + ".ext") + "' -out '" + Certificate(name) +
        "' && cat '" + Certificate(name) + "' '" + root() + "' > '" + folder_.File(name + ".chain") + "'");
    EXPECT_EQ(0, made.exitCode) << made.output;
    return made.exitCode == 0;
}

bool TestPki::IssueBetween(const std::string& name, const std::string& subject, const std::string& issuer,
                           const std::string& extensions, const std::string& from,
                           const std::string& to) const
{
    if (!fs::exists(folder_.File("ca.cnf"))) {
        folder_.Write("ca.cnf",
                      "[ca]\ndefault_ca=d\n[d]\ndatabase=" + folder_.File("index.txt") +
                          "\nserial=" + folder_.File("serial") + "\nnew_certs_dir=" + folder_.path() +
                          "\ndefault_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncountryName=optional\n"
                          "organizationName=optional\norganizationalUnitName=optional\n"
                          "commonName=supplied\n");
        folder_.Write("index.txt", "");
        folder_.Write("serial", "1000\n");
    }
    folder_.Write(name + ".ext", extensions + "\n");
    std::string signing = issuer.empty()
                              ? " -selfsign -keyfile '" + Key(name) + "'"
                              : " -cert '" + Certificate(issuer) + "' -keyfile '" + Key(issuer) + "'";
    std::string chain = issuer.empty() ? std::string() : " '" + folder_.File(issuer + ".chain") + "'";
    CheckRun made =
        RunCommand("openssl req -new -newkey rsa:2048 -nodes -subj '" + subject + "' -keyout '" + Key(name) +
                   "' -out '" + folder_.File(name + ".csr") + "' && openssl ca -batch -config '" +
                   folder_.File("ca.cnf") + "'" + signing + " -in '" + folder_.File(name + ".csr") +
                   "' -out '" + Certificate(name) + "' -startdate " + from + " -enddate " + to +
                   " -extfile '" + folder_.File(name + ".ext") + "' -notext -preserveDN && cat '" +
                   Certificate(name) + "'" + chain + " > '" + folder_.File(name + ".chain") + "'");
    EXPECT_EQ(0, made.exitCode) << made.output;
    return made.exitCode == 0;
}

bool TestPki::Sign(const std::string& signer, const std::string& in, const std::string& out,
                   const std::string& authority, long long stampTime, const std::string& cross) const
{
    std::error_code ignored;
    fs::remove(out, ignored);
    std::string stamp = authority.empty() ? std::string()
                                          : " -TSA-certs '" + folder_.File(authority + ".chain") +
                                                "' -TSA-key '" + folder_.File(authority + ".key") +
                                                "' -TSA-time " + std::to_string(stampTime);
    CheckRun run = RunCommand("osslsigncode sign -certs '" + folder_.File(signer + ".chain") + "' -key '" +
                              folder_.File(signer + ".key") + "' -h sha256" + stamp +
                              (cross.empty() ? std::string() : " -ac '" + cross + "'") + " -in '" + in +
                              "' -out '" + out + "'");
    EXPECT_EQ(0, run.exitCode) << run.output;
    return run.exitCode == 0;
}

const TestSigner& SharedSigner()
{
    static const TestSigner signer;
    return signer;
}

CheckRun OsslVerify(const std::string& file, const std::string& certificate)
{
    // Newer osslsigncode fetches revocation lists unless told -ignore-crl
    // (there is no network); older ones fetch none and lack the option.
    static const bool hasIgnoreCrl =
        RunCommand("osslsigncode verify --help").output.find("-ignore-crl") != std::string::npos;
    return RunCommand(std::string("osslsigncode verify ") + (hasIgnoreCrl ? "-ignore-crl " : "") +
                      (certificate.empty() ? std::string() : "-CAfile '" + certificate + "' ") + "-in '" +
                      file + "'");
}

std::string ReferenceDigest(const TestSigner& signer, const std::string& signedFile)
{
    CheckRun run = OsslVerify(signedFile, signer.certificate());
    EXPECT_EQ(0, run.exitCode) << run.output;
    const std::string label = "Calculated message digest";
    size_t at = run.output.find(label);
    size_t colon = at == std::string::npos ? at : run.output.find(':', at);
    EXPECT_NE(colon, std::string::npos) << run.output;
    std::string digest;
    for (size_t i = colon == std::string::npos ? run.output.size() : colon + 1; i < run.output.size(); ++i) {
        char c = run.output[i];
        if (isxdigit(static_cast<unsigned char>(c))) {
            digest += c;
        } else if (!digest.empty() || c == '\n') {
            break;
        }
    }
    return digest;
}

std::string HexUpper(const std::string& bytes)
{
    std::string text;
    for (unsigned char byte : bytes) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

CheckRun RunCheck(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = {"MERVOPackageCheck"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    CheckRun run{-1, ""};
    FILE* out = tmpfile();
    if (out == nullptr) {
        ADD_FAILURE() << "no temporary file for the report";
        return run;
    }
    run.exitCode = RunPackageCheck(static_cast<int>(argv.size()), argv.data(), out);
    rewind(out);
    run.output = ReadRest(out);
    fclose(out);
    return run;
}

PackageReport CheckFolder(const std::string& folder, const char* infArgument)
{
    return CheckFolder(folder, infArgument, DefaultCheckOptions());
}

PackageReport CheckFolder(const std::string& folder, const char* infArgument, const CheckOptions& options)
{
    PackageReport report;
    std::string programFolder;
    std::string error;
    if (OpenPackageFolder(folder.c_str(), &programFolder, &error) != 0) {
        report.exitCode = CHECK_NOT_RUN;
        report.failure = error;
        return report;
    }
    CheckPackage(programFolder.c_str(), infArgument, options, &report);
    report.packageFolder = folder;
    ClosePackageFolder();
    return report;
}

std::vector<std::string> WarningCodes(const PackageReport& report)
{
    std::vector<std::string> codes;
    for (const PackageWarning& warning : report.warnings) {
        if (warning.target.empty()) {
            codes.push_back(warning.code);
        }
    }
    return codes;
}

std::vector<std::string> TargetWarnings(const PackageReport& report)
{
    std::vector<std::string> codes;
    for (const PackageWarning& warning : report.warnings) {
        if (!warning.target.empty()) {
            codes.push_back(warning.target + " " + warning.code);
        }
    }
    return codes;
}

std::map<std::string, std::string> FolderSnapshot(const std::string& folder)
{
    std::map<std::string, std::string> snapshot;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::ostringstream state;
        state << entry.last_write_time().time_since_epoch().count() << ' ';
        if (entry.is_regular_file()) {
            state << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        }
        snapshot[fs::relative(entry.path(), folder).string()] = state.str();
    }
    return snapshot;
}

std::string CrLf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

std::string GoodInf()
{
    std::string inf;
    for (char c : Replace(kTypicalInf, "mervoser.sys=1\n", "")) {
        inf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return inf;
}

namespace {

using Json = nlohmann::json;

// The text report's escapes for control characters.
std::string Escaped(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\n' || c == '\t' || c == '\r') {
            shown += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

// The JSON replaces bytes that are not UTF-8; do the same to the text's.
std::string AsUtf8(const std::string& text)
{
    return Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)).get<std::string>();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(AsUtf8(line));
    }
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& candidate : lines) {
        if (candidate == line) {
            return true;
        }
    }
    return false;
}

}  // namespace

void ExpectJsonMatchesText(const std::string& json, const std::string& text)
{
    Json document = Json::parse(json, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << json;
    EXPECT_EQ(2, document["schemaVersion"]);
    std::vector<std::string> lines = Lines(text);
    auto expectLine = [&lines, &text](const std::string& line) {
        EXPECT_TRUE(HasLine(lines, line)) << "missing line: " << line << "\nin:\n" << text;
    };
    auto shown = [](const Json& value) { return Escaped(value.get<std::string>()); };

    expectLine("INF: " + shown(document["inf"]["name"]) + " (" + shown(document["inf"]["path"]) + ")");
    expectLine("Devices: " + std::to_string(document["devices"].size()));
    for (const Json& device : document["devices"]) {
        char row[128];
        snprintf(row, sizeof row, "  %-5s  %-4s  %-4s  ", shown(device["indexText"]).c_str(),
                 shown(device["vid"]).c_str(), shown(device["pid"]).c_str());
        expectLine(row + shown(device["description"]));
    }
    expectLine("Remove command pattern: " + (document["removePattern"].is_null()
                                                 ? std::string("(none)")
                                                 : shown(document["removePattern"])));
    std::string stale = "Stale files deleted from the Windows INF folder:";
    for (const Json& name : document["staleFiles"]) {
        stale += " " + shown(name);
    }
    expectLine(stale);
    for (const Json& file : document["files"]) {
        std::string quoted = "\"" + shown(file["name"]) + "\"";
        std::string status = !file["plain"].get<bool>()     ? "  UNSAFE "
                             : !file["present"].get<bool>() ? "  MISSING "
                                                            : "  present ";
        bool found = false;
        for (const std::string& line : lines) {
            found = found || (line.rfind(status, 0) == 0 && line.size() >= quoted.size() &&
                              line.compare(line.size() - quoted.size(), quoted.size(), quoted) == 0 &&
                              (file["size"].is_null() ||
                               line.find(" " + std::to_string(file["size"].get<long long>()) + " bytes ") !=
                                   std::string::npos));
        }
        EXPECT_TRUE(found) << "no line for file " << file.dump() << "\nin:\n" << text;
    }
    for (const char* program : {"companionTool", "stager"}) {
        const Json& entry = document[program];
        auto state = [&entry](const char* field) { return entry[field].get<bool>() ? "present" : "MISSING"; };
        expectLine(std::string(program == std::string("stager") ? "Stager " : "Companion tool ") +
                   shown(entry["name"]) + ": " + state("present") + "; 64-bit build " +
                   shown(entry["name64"]) + ": " + state("present64"));
    }

    const Json& catalog = document["catalog"];
    if (catalog["names"].empty()) {
        EXPECT_TRUE(catalog["name"].is_null());
        EXPECT_FALSE(catalog["present"].get<bool>());
    } else {
        expectLine("Catalog: " + shown(catalog["name"]) +
                   (catalog["present"].get<bool>() ? " (present)" : " (MISSING)"));
    }
    if (catalog["checked"].get<bool>()) {
        std::string algorithms;
        for (const Json& algorithm : catalog["hashAlgorithms"]) {
            algorithms += (algorithms.empty() ? "" : ", ") + shown(algorithm);
        }
        expectLine("  Members: " + std::to_string(catalog["members"].get<size_t>()) +
                   " (hashes: " + (algorithms.empty() ? std::string("none") : algorithms) + ")");
    }
    for (const Json& file : catalog["files"]) {
        expectLine(std::string(file["covered"].get<bool>() ? "  covered      " : "  NOT COVERED  ") +
                   shown(file["algorithm"]) + " " + (file["kind"] == "pe" ? "pe   " : "flat ") +
                   (file["hash"].is_null() ? "(" + shown(file["problem"]) + ")" : shown(file["hash"])) +
                   "  \"" + shown(file["name"]) + "\"");
    }

    // One table row per target: its name, coverage and staging verdict.
    for (const Json& target : document["targets"]) {
        std::string staging = target["staging"].get<std::string>();
        if (!target["publisher"].is_null()) {
            staging += " \"" + shown(target["publisher"]) + "\"";
        }
        if (!target["code"].is_null()) {
            staging += " " + shown(target["code"]);
        }
        staging += target["unconfirmed"].get<bool>() ? "*" : "";
        char row[160];
        snprintf(row, sizeof row, "  %-9s  %-7s  %-39s  ", shown(target["target"]).c_str(),
                 target["covered"].get<bool>() ? "covers" : "NOT", staging.c_str());
        bool found = false;
        for (const std::string& line : lines) {
            found = found || line.rfind(row, 0) == 0;
        }
        EXPECT_TRUE(found) << "no row for target " << target.dump() << "\nin:\n" << text;
    }
    if (!catalog["kind"].is_null()) {
        expectLine(
            "  Kind: " + shown(catalog["kind"]) +
            (catalog["kindReason"].is_null() ? std::string() : " (" + shown(catalog["kindReason"]) + ")"));
    }

    // The warnings, in order, right after their count.
    size_t at = 0;
    std::string count = "Warnings: " + std::to_string(document["warnings"].size());
    while (at < lines.size() && lines[at] != count) {
        ++at;
    }
    ASSERT_LT(at, lines.size()) << count << "\nin:\n" << text;
    for (const Json& warning : document["warnings"]) {
        SCOPED_TRACE(warning["code"].get<std::string>());
        ++at;
        ASSERT_LT(at, lines.size());
        EXPECT_EQ("  " + warning["code"].get<std::string>() + ": " + shown(warning["message"]), lines[at]);
    }

    std::string result = lines.empty() ? "" : lines.back();
    EXPECT_EQ(0u, result.rfind("Result: " + std::to_string(document["exitCode"].get<int>()) + " (", 0))
        << result;
    EXPECT_NE(result.find("the stager would end with " +
                          std::to_string(document["stagerExitCode"].get<int>()) + "."),
              std::string::npos)
        << result;
    if (!document["failure"].is_null()) {
        EXPECT_NE(result.find(shown(document["failure"])), std::string::npos) << result;
    }
}

std::string CertificateFrom(const std::string& catalog, const std::string& commonName)
{
    CheckRun run = RunCommand("openssl pkcs7 -inform DER -print_certs -in '" + catalog + "'");
    EXPECT_EQ(0, run.exitCode) << run.output;
    // Each certificate follows its "subject=" line.
    size_t subject = run.output.find("CN = " + commonName + "\n");
    size_t begin = run.output.find("-----BEGIN CERTIFICATE-----", subject);
    size_t end = run.output.find("-----END CERTIFICATE-----", begin);
    EXPECT_NE(end, std::string::npos) << commonName << "\n" << run.output;
    return subject == std::string::npos || end == std::string::npos
               ? std::string()
               : run.output.substr(begin, end + 26 - begin);
}

bool AddCountersignature(const std::string& catalog, const std::string& certificate, const std::string& key,
                         long long when, const std::string& stamped)
{
    std::string der = ReadFile(catalog);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &at, static_cast<long>(der.size()));
    FILE* certificateFile = fopen(certificate.c_str(), "r");
    FILE* keyFile = fopen(key.c_str(), "r");
    X509* authority =
        certificateFile != nullptr ? PEM_read_X509(certificateFile, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* privateKey =
        keyFile != nullptr ? PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr) : nullptr;
    for (FILE* file : {certificateFile, keyFile}) {
        if (file != nullptr) {
            fclose(file);
        }
    }
    bool ok = p7 != nullptr && authority != nullptr && privateKey != nullptr;
    PKCS7_SIGNER_INFO* signer = ok ? sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0) : nullptr;
    PKCS7_SIGNER_INFO* counter = PKCS7_SIGNER_INFO_new();
    std::string data =
        stamped.empty() && signer != nullptr
            ? std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(signer->enc_digest)),
                          static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)))
            : stamped;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    ASN1_OCTET_STRING* digestValue = ASN1_OCTET_STRING_new();
    ok =
        ok && signer != nullptr && PKCS7_SIGNER_INFO_set(counter, authority, privateKey, EVP_sha256()) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                   OBJ_nid2obj(NID_pkcs7_data)) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_signingTime, V_ASN1_UTCTIME,
                                   ASN1_UTCTIME_set(nullptr, static_cast<time_t>(when))) == 1 &&
        EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) == 1 &&
        ASN1_OCTET_STRING_set(digestValue, digest, static_cast<int>(size)) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digestValue) == 1 &&
        PKCS7_SIGNER_INFO_sign(counter) == 1;
    unsigned char* encoded = nullptr;
    int length = ok ? i2d_PKCS7_SIGNER_INFO(counter, &encoded) : -1;
    ASN1_STRING* sequence = ASN1_STRING_new();
    ok = ok && length > 0 && ASN1_STRING_set(sequence, encoded, length) == 1 &&
         PKCS7_add_attribute(signer, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, sequence) == 1 &&
         PKCS7_add_certificate(p7, authority) == 1;
    unsigned char* out = nullptr;
    int outLength = ok ? i2d_PKCS7(p7, &out) : -1;
    if (outLength > 0) {
        std::ofstream(catalog, std::ios::binary) << std::string(reinterpret_cast<char*>(out), outLength);
    }
    OPENSSL_free(out);
    OPENSSL_free(encoded);
    PKCS7_SIGNER_INFO_free(counter);
    EVP_PKEY_free(privateKey);
    X509_free(authority);
    PKCS7_free(p7);
    EXPECT_GT(outLength, 0);
    return outLength > 0;
}
