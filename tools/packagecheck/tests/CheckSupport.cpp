#include "CheckSupport.h"

#include "CheckText.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
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
    FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    run.output = ReadRest(pipe);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string PkiFile(const std::string& name)
{
    return std::string(MERVO_TEST_PKI) + "/" + name;
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

std::string ReferenceDigest(const std::string& certificate, const std::string& signedFile)
{
    CheckRun run = OsslVerify(signedFile, certificate);
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
    std::string text = HexText(bytes);
    for (char& c : text) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Wide(const std::string& text)
{
    return Utf16(text).substr(2);
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
    EXPECT_EQ(4, document["schemaVersion"]);
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
        // Its row of what Windows installs: as many devices marked served as
        // it serves (up to the matrix's columns), its catalog and file count.
        if (target["devices"].is_null()) {
            continue;
        }
        char start[32];
        snprintf(start, sizeof start, "  %-9s ", shown(target["target"]).c_str());
        char files[16];
        snprintf(files, sizeof files, "  %5zu  ", target["files"].size());
        const std::string catalogName =
            target["catalog"].is_null() ? "(none)" : shown(target["catalog"]["name"]);
        found = false;
        for (const std::string& line : lines) {
            found = found || (line.rfind(start, 0) == 0 && line.find(catalogName) != std::string::npos &&
                              line.find(files) != std::string::npos &&
                              (target["devices"].empty() || line.find(" x  ") != std::string::npos));
        }
        EXPECT_TRUE(found) << "no install row for target " << target["target"] << "\nin:\n" << text;
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

namespace {

// A PEM object of a made file, read with `read` (PEM_read_X509, PEM_read_PrivateKey).
template <typename T>
T* ReadPem(const std::string& path, T* (*read)(FILE*, T**, pem_password_cb*, void*))
{
    FILE* file = fopen(path.c_str(), "r");
    T* object = file != nullptr ? read(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) {
        fclose(file);
    }
    return object;
}

// Signs the counter signer's attributes with a PKCS#1 v1.5 block that holds
// their bare SHA-1 digest, with no DigestInfo around it.
bool SignBareDigest(PKCS7_SIGNER_INFO* counter, EVP_PKEY* key)
{
    unsigned char* attributes = nullptr;
    int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(counter->auth_attr), &attributes,
                               ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    size_t size = static_cast<size_t>(EVP_PKEY_get_size(key));
    std::string signature(size, '\0');
    bool ok =
        length > 0 &&
        EVP_Digest(attributes, static_cast<size_t>(length), digest, &digestSize, EVP_sha1(), nullptr) == 1 &&
        context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_sign(context, reinterpret_cast<unsigned char*>(&signature[0]), &size, digest, digestSize) ==
            1 &&
        ASN1_STRING_set(counter->enc_digest, signature.data(), static_cast<int>(size)) == 1;
    EVP_PKEY_CTX_free(context);
    OPENSSL_free(attributes);
    return ok;
}

}  // namespace

bool AddCountersignature(const std::string& catalog, const Countersignature& how)
{
    std::string der = ReadFile(catalog);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &at, static_cast<long>(der.size()));
    X509* authority = ReadPem(PkiFile(how.authority + ".pem"), PEM_read_X509);
    EVP_PKEY* privateKey = ReadPem(PkiFile(how.authority + ".key"), PEM_read_PrivateKey);
    EVP_PKEY* signingKey =
        how.signingKey.empty() ? nullptr : ReadPem(PkiFile(how.signingKey + ".key"), PEM_read_PrivateKey);
    const EVP_MD* md = how.bareDigest ? EVP_sha1() : EVP_sha256();
    bool ok = p7 != nullptr && authority != nullptr && privateKey != nullptr;
    PKCS7_SIGNER_INFO* signer = ok ? sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0) : nullptr;
    PKCS7_SIGNER_INFO* counter = PKCS7_SIGNER_INFO_new();
    std::string data =
        how.stamped.empty() && signer != nullptr
            ? std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(signer->enc_digest)),
                          static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)))
            : how.stamped;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    ASN1_OCTET_STRING* digestValue = ASN1_OCTET_STRING_new();
    ok =
        ok && signer != nullptr && PKCS7_SIGNER_INFO_set(counter, authority, privateKey, md) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                   OBJ_nid2obj(NID_pkcs7_data)) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_signingTime, V_ASN1_UTCTIME,
                                   ASN1_UTCTIME_set(nullptr, static_cast<time_t>(how.when))) == 1 &&
        EVP_Digest(data.data(), data.size(), digest, &size, md, nullptr) == 1 &&
        ASN1_OCTET_STRING_set(digestValue, digest, static_cast<int>(size)) == 1 &&
        PKCS7_add_signed_attribute(counter, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digestValue) == 1 &&
        (how.bareDigest ? SignBareDigest(counter, signingKey != nullptr ? signingKey : privateKey)
                        : PKCS7_SIGNER_INFO_sign(counter) == 1);
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
    EVP_PKEY_free(signingKey);
    EVP_PKEY_free(privateKey);
    X509_free(authority);
    PKCS7_free(p7);
    EXPECT_GT(outLength, 0);
    return outLength > 0;
}
