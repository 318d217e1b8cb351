// The catalog check on copies of a real vendor-signed package, each changed
// byte by byte for one warning; osslsigncode is the independent judge of the
// signature and of the Authenticode image hashes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "CheckParts.h"
#include "CheckSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPololu = MERVO_SIGNED_PACKAGES "/pololu-tic";
const char kCatalog[] = "pololu.cat";

void FlipByte(const TempPackage& p, const std::string& name, size_t at)
{
    std::string bytes = p.Read(name);
    ASSERT_LT(at, bytes.size());
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    p.Write(name, bytes);
}

// The package's catalog replaced by a made one, signed with the test's
// self-signed certificate (changed as its name says: see MakeTestPki.cpp).
std::function<void(const TempPackage&)> Resigned(const std::string& name)
{
    return
        [name](const TempPackage& p) { p.Write(kCatalog, ReadFile(PkiFile("catalogs/" + name + ".cat"))); };
}

void ChangeCatalog(const TempPackage& p, const std::function<std::string(std::string)>& change)
{
    p.Write(kCatalog, change(p.Read(kCatalog)));
}

// The sample image.
std::string SampleImage()
{
    return ReadFile(MERVO_PE_SAMPLES "/sample32.exe");
}

// Moves files of the package into its subfolder "sub".
void MoveToSub(const TempPackage& p, const std::vector<std::string>& names)
{
    fs::create_directories(p.File("sub"));
    for (const std::string& name : names) {
        fs::rename(p.File(name), p.File("sub/" + name));
    }
}

void CopyToSub(const TempPackage& p, const std::vector<std::string>& names)
{
    fs::create_directories(p.File("sub"));
    for (const std::string& name : names) {
        fs::copy_file(p.File(name), p.File("sub/" + name));
    }
}

// Replaces a file of the package by a link to the pristine package's file of that name.
void LinkToPristine(const TempPackage& p, const std::string& name)
{
    fs::remove(p.File(name));
    fs::create_symlink(kPololu + "/" + name, p.File(name));
}

// The sample with a certificate-table entry that points past its end.
std::string LyingSample()
{
    std::string bytes = SampleImage();
    size_t pe = static_cast<unsigned char>(bytes[0x3C]) | static_cast<unsigned char>(bytes[0x3D]) << 8;
    size_t entry = pe + 24 + 96 + 4 * 8;  // PE32
    uint32_t offset = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) {
        bytes[entry + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
        bytes[entry + 4 + i] = static_cast<char>(i == 0 ? 9 : 0);  // 9 bytes: one past the end
    }
    return bytes;
}

struct CatalogCase {
    const char* name;
    std::function<void(const TempPackage&)> change;  // applied to the package with the tool beside it
    const char* inf;
    std::vector<std::string> codes;
    int intact;                                       // signature: 1 intact, 0 broken, -1 not checked
    bool resigned;                                    // signed again with the test's certificate
    std::vector<std::pair<std::string, bool>> files;  // hashed files and whether covered
    const char* quoted;                               // in some warning's message; "" none
    int stagerExitCode = 0;
};

const std::vector<std::pair<std::string, bool>> kBothCovered = {{"tic.inf", true},
                                                                {"tic-bootloader.inf", true}};

// clang-format off
const CatalogCase kCases[] = {
    {"pristine", [](const TempPackage&) {}, "tic.inf", {}, 1, false, kBothCovered, ""},
    {"the_other_inf_too", [](const TempPackage&) {}, "tic-bootloader.inf", {}, 1, false,
     {{"tic-bootloader.inf", true}, {"tic.inf", true}}, ""},
    {"one_byte_of_the_inf_changed",
     [](const TempPackage& p) { p.Write("tic.inf", Replace(p.Read("tic.inf"), "T825", "T826")); }, "tic.inf",
     {"CATALOG_HASH_MISMATCH"}, 1, false, {{"tic.inf", false}, {"tic-bootloader.inf", true}},
     "\"tic.inf\": no member of the catalog \"pololu.cat\" holds its hash"},
    {"one_byte_of_the_other_inf_changed", [](const TempPackage& p) { FlipByte(p, "tic-bootloader.inf", 100); },
     "tic.inf", {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", false}},
     "\"tic-bootloader.inf\" (no member of the catalog \"pololu.cat\" holds its hash"},
    {"inf_with_lf_line_ends",
     [](const TempPackage& p) {
         std::string text = p.Read("tic.inf");
         std::string lf;
         for (char c : text) {
             if (c != '\r') {
                 lf += c;
             }
         }
         p.Write("tic.inf", lf);
     },
     "tic.inf", {"CATALOG_HASH_MISMATCH"}, 1, false, {{"tic.inf", false}, {"tic-bootloader.inf", true}},
     "only after its line ends are turned to CRLF"},
    {"catalog_named_by_a_string_key",
     [](const TempPackage& p) {
         p.Write("tic.inf", Replace(Replace(p.Read("tic.inf"), "CatalogFile=pololu.cat", "CatalogFile=%CAT%.cat"),
                                    "[Strings]\r\n", "[Strings]\r\nCAT=\"pololu\"\r\n"));
     },
     "tic.inf", {"CATALOG_HASH_MISMATCH"}, 1, false, {{"tic.inf", false}, {"tic-bootloader.inf", true}},
     "\"tic.inf\": no member of the catalog \"pololu.cat\" holds its hash"},
    {"no_catalog_file",
     [](const TempPackage& p) { p.Write("tic.inf", Replace(p.Read("tic.inf"), "CatalogFile=pololu.cat\r\n", "")); },
     "tic.inf", {"UNSIGNED_PACKAGE"}, -1, false, {}, "names no CatalogFile"},
    {"decorated_catalog_file",
     [](const TempPackage& p) {
         p.Write("tic.inf", Replace(p.Read("tic.inf"), "CatalogFile=", "CatalogFile.NTamd64="));
     },
     "tic.inf", {"CATALOG_HASH_MISMATCH"}, 1, false, {{"tic.inf", false}, {"tic-bootloader.inf", true}}, ""},
    {"catalog_missing", [](const TempPackage& p) { fs::remove(p.File(kCatalog)); }, "tic.inf",
     {"CATALOG_MISSING"}, -1, false, {}, "\"pololu.cat\", which is not beside it in the package", 22},
    {"catalog_a_folder", [](const TempPackage& p) { fs::remove(p.File(kCatalog)); p.Write("pololu.cat/x", "x"); },
     "tic.inf", {"CATALOG_MISSING"}, -1, false, {}, "Windows refuses to stage the INF", 22},
    {"second_catalog_missing",
     [](const TempPackage& p) {
         p.Write("tic.inf", Replace(p.Read("tic.inf"), "CatalogFile=pololu.cat\r\n",
                                    "CatalogFile.NTx86=absent.cat\r\nCatalogFile=pololu.cat\r\n"));
     },
     "tic.inf", {"CATALOG_MISSING", "CATALOG_HASH_MISMATCH"}, 1, false,
     {{"tic.inf", false}, {"tic-bootloader.inf", true}}, "\"absent.cat\"", 22},
    {"catalog_a_link_to_the_signed_one", [](const TempPackage& p) { LinkToPristine(p, kCatalog); }, "tic.inf",
     {"CATALOG_UNREADABLE"}, -1, false, {}, "the catalog cannot be read"},
    {"catalog_a_fifo", [](const TempPackage& p) {
         fs::remove(p.File(kCatalog));
         EXPECT_EQ(0, mkfifo(p.File(kCatalog).c_str(), 0600));
     },
     "tic.inf", {"CATALOG_UNREADABLE"}, -1, false, {}, "the catalog cannot be read"},
    {"hashed_file_a_link_to_the_signed_one", [](const TempPackage& p) { LinkToPristine(p, "tic-bootloader.inf"); },
     "tic.inf", {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", false}},
     "\"tic-bootloader.inf\" (it cannot be checked against the catalog \"pololu.cat\": it cannot be read)"},
    {"inf_and_catalog_in_a_subfolder",
     [](const TempPackage& p) { MoveToSub(p, {"tic.inf", "tic-bootloader.inf", kCatalog}); }, "sub\\tic.inf", {}, 1,
     false, {{"sub\\tic.inf", true}, {"sub\\tic-bootloader.inf", true}}, ""},
    {"inf_in_a_subfolder_catalog_at_the_root",
     [](const TempPackage& p) { MoveToSub(p, {"tic.inf", "tic-bootloader.inf"}); }, "sub\\tic.inf",
     {"CATALOG_MISSING"}, -1, false, {}, "\"pololu.cat\", which is not beside it", 22},
    {"inf_in_a_subfolder_changed_root_copy_pristine",
     [](const TempPackage& p) {
         CopyToSub(p, {"tic.inf", "tic-bootloader.inf", kCatalog});
         p.Write("sub/tic.inf", Replace(p.Read("sub/tic.inf"), "T825", "T826"));
     },
     "sub\\tic.inf", {"CATALOG_HASH_MISMATCH"}, 1, false,
     {{"sub\\tic.inf", false}, {"sub\\tic-bootloader.inf", true}, {"tic-bootloader.inf", true}, {"tic.inf", true}},
     "\"sub\\tic.inf\": no member of the catalog \"pololu.cat\" holds its hash"},
    {"member_hash_changed", [](const TempPackage& p) { FlipByte(p, kCatalog, kDllDigestAt + 3); }, "tic.inf",
     {"CATALOG_SIGNATURE_INVALID"}, 0, false, kBothCovered, "does not match its signed digest"},
    {"signature_changed", [](const TempPackage& p) { FlipByte(p, kCatalog, kSignatureAt + 40); }, "tic.inf",
     {"CATALOG_SIGNATURE_INVALID"}, 0, false, kBothCovered, "does not verify with the signer's key"},
    {"truncated_by_one_byte",
     [](const TempPackage& p) { ChangeCatalog(p, [](std::string der) { return der.substr(0, der.size() - 1); }); },
     "tic.inf", {"CATALOG_UNREADABLE"}, -1, false, {}, "not a DER PKCS#7 structure"},
    {"truncated_to_its_start",
     [](const TempPackage& p) { ChangeCatalog(p, [](std::string der) { return der.substr(0, 1000); }); },
     "tic.inf", {"CATALOG_UNREADABLE"}, -1, false, {}, "not a DER PKCS#7 structure"},
    {"random_bytes",
     [](const TempPackage& p) {
         std::string bytes;
         for (unsigned i = 0; i < 4096; ++i) {
             bytes += static_cast<char>((i * 2654435761u) >> 13);
         }
         p.Write(kCatalog, bytes);
     },
     "tic.inf", {"CATALOG_UNREADABLE"}, -1, false, {}, "not a DER PKCS#7 structure"},
    {"empty", [](const TempPackage& p) { p.Write(kCatalog, ""); }, "tic.inf", {"CATALOG_UNREADABLE"}, -1, false,
     {}, "not a DER PKCS#7 structure"},
    {"signed_data_of_another_type",
     [](const TempPackage& p) { p.Write(kCatalog, ReadFile(PkiFile("catalogs/smime.p7"))); }, "tic.inf", {"CATALOG_UNREADABLE"}, -1, false, {}, "of type 1.2.840.113549.1.7.1, not a certificate trust list"},
    {"resigned_unchanged", Resigned("pololu-self"), "tic.inf", {}, 1, true, kBothCovered, ""},
    {"no_system_named_by_the_stager", Resigned("pololu-no-stager-system"), "tic.inf", {}, 1, true, kBothCovered,
     "On vista-x64: the catalog \"pololu.cat\" covers 2:9.1,2:9.0,2:6.1,"},
    {"no_later_system", Resigned("pololu-no-later-system"), "tic.inf", {}, 1, true, kBothCovered,
     "On 11-x64: the catalog \"pololu.cat\" covers 2:5.1,2:6.0,2:5.0,2:5.2,2:01.0, not this system"},
    {"staged_and_copied_files_not_in_the_catalog",
     [](const TempPackage& p) {
         p.Write("other.inf", p.Read("tic.inf") + "[SourceDisksFiles]\r\nextra.sys=1\r\n");
         p.Write("extra.sys", "driver");
     },
     "other.inf", {"NOT_IN_CATALOG"}, 1, false, {{"tic-bootloader.inf", true}, {"tic.inf", true}},
     "names no member for other.inf (staged); extra.sys (copied)"},
    {"copied_file_named_under_windows_rules",
     [](const TempPackage& p) {
         p.Write("other.inf", p.Read("tic.inf") + "[SourceDisksFiles]\r\nTIC-BOOTLOADER.INF. =1\r\n");
     },
     "other.inf", {"NOT_IN_CATALOG"}, 1, false, {{"tic-bootloader.inf", true}, {"tic.inf", true}},
     "names no member for other.inf (staged): Windows"},
    {"pe_member_in_a_subfolder_covered",
     [](const TempPackage& p) {
         p.Write(std::string("sub/") + kDll, SampleImage());
         Resigned("pololu-sample-hash")(p);
     },
     "tic.inf", {}, 1, true, {{"tic.inf", true}, {std::string("sub\\") + kDll, true}, {"tic-bootloader.inf", true}},
     ""},
    {"first_member_of_an_unknown_algorithm_second_covers",
     [](const TempPackage& p) {
         p.Write(kDll, SampleImage());
         Resigned("pololu-unknown-algorithm-second-covers")(p);
     },
     "tic.inf", {}, 1, true, {{"tic.inf", true}, {"tic-bootloader.inf", true}, {kDll, true}}, ""},
    {"first_member_of_an_unknown_algorithm_second_differs",
     [](const TempPackage& p) {
         p.Write(kDll, SampleImage());
         Resigned("pololu-unknown-algorithm")(p);
     },
     "tic.inf", {"FILE_NOT_INSTALLED"}, 1, true, {{"tic.inf", true}, {"tic-bootloader.inf", true}, {kDll, false}},
     "holds its image hash"},
    {"pe_member_changed", [](const TempPackage& p) { p.Write(kDll, SampleImage()); }, "tic.inf",
     {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", true}, {kDll, false}},
     "holds its image hash"},
    {"pe_member_with_a_table_past_its_end", [](const TempPackage& p) { p.Write(kDll, LyingSample()); }, "tic.inf",
     {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", true}, {kDll, false}},
     "it is not a valid PE image: its certificate table"},
    {"file_at_the_read_limit",
     [](const TempPackage& p) { fs::resize_file(p.File("tic-bootloader.inf"), kCatalogReadLimit); }, "tic.inf",
     {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", false}},
     "holds its hash"},
    {"file_one_byte_past_the_read_limit",
     [](const TempPackage& p) { fs::resize_file(p.File("tic-bootloader.inf"), kCatalogReadLimit + 1); },
     "tic.inf", {"FILE_NOT_INSTALLED"}, 1, false, {{"tic.inf", true}, {"tic-bootloader.inf", false}},
     "it is larger than 67108864 bytes"},
};
// clang-format on

class CatalogTest : public testing::TestWithParam<CatalogCase> {};

TEST_P(CatalogTest, WarnsAsTheChangeDeserves)
{
    const CatalogCase& c = GetParam();
    TempPackage package;
    package.CopyFrom(kPololu);
    package.AddCompanionTool();
    c.change(package);

    PackageReport report = CheckFolder(package.path(), c.inf);
    // The test's own certificate is self-signed: trusted by no root.
    std::vector<std::string> codes = c.codes;
    if (c.resigned) {
        codes.push_back("CATALOG_UNTRUSTED");
    }
    EXPECT_EQ(codes, WarningCodes(report));
    EXPECT_EQ(c.stagerExitCode, report.stagerExitCode) << report.failure;
    // Every target of a vendor or unsigned package prompts or refuses.
    EXPECT_EQ(c.stagerExitCode != 0 ? CHECK_RUN_FAILS : CHECK_WARNINGS, report.exitCode);
    const CatalogReport& catalog = report.catalog;
    EXPECT_EQ(c.intact >= 0, catalog.checked) << catalog.note;
    if (catalog.checked) {
        EXPECT_EQ(c.intact == 1, catalog.contents.signatureIntact) << catalog.contents.signatureProblem;
        EXPECT_EQ(c.resigned ? "MERVO Test Signing" : "Pololu Corporation", catalog.contents.signer);
        // The independent verdict on the same bytes, beside the INF.
        std::string infFolder = std::string(c.inf).find('\\') == std::string::npos ? "" : "sub/";
        CheckRun verdict =
            OsslVerify(package.File(infFolder + kCatalog), c.resigned ? PkiFile("self.pem") : "");
        EXPECT_EQ(c.intact == 1, verdict.exitCode == 0) << verdict.output;
    }
    std::vector<std::pair<std::string, bool>> files;
    for (const CatalogFileCheck& file : catalog.files) {
        files.emplace_back(file.name, file.covered);
        EXPECT_EQ(file.hash.size(), file.problem.empty() ? 40u : 0u) << file.name;
        EXPECT_EQ(file.peImage, file.name.find(".dll") != std::string::npos) << file.name;
    }
    EXPECT_EQ(c.files, files);
    if (*c.quoted != '\0') {
        bool found = false;
        for (const PackageWarning& warning : report.warnings) {
            found = found || warning.message.find(c.quoted) != std::string::npos;
        }
        EXPECT_TRUE(found) << c.quoted << "\n" << FormatReportText(report);
    }
}

INSTANTIATE_TEST_SUITE_P(Pololu, CatalogTest, testing::ValuesIn(kCases), CaseName());

// What the catalog says, against the package's README and osslsigncode.
TEST(PololuCatalog, ReportsSignerTimeVersionsAndHashes)
{
    PackageReport report = CheckFolder(kPololu, "tic.inf");
    const CatalogReport& catalog = report.catalog;
    EXPECT_EQ(std::vector<std::string>{"pololu.cat"}, catalog.names);
    EXPECT_TRUE(catalog.present);
    ASSERT_TRUE(catalog.checked) << catalog.note;
    EXPECT_TRUE(catalog.contents.signatureIntact) << catalog.contents.signatureProblem;
    EXPECT_EQ("Pololu Corporation", catalog.contents.signer);
    EXPECT_EQ("2019-08-14T21:33:22Z", catalog.contents.signingTime);
    EXPECT_EQ("time stamp", catalog.contents.signingTimeSource);
    EXPECT_EQ("sha256", catalog.contents.signatureDigest);
    EXPECT_EQ(std::vector<std::string>{"sha1"}, catalog.hashAlgorithms);
    EXPECT_EQ((std::vector<std::string>{"2:5.1", "2:6.0", "2:6.1", "2:6.2", "2:6.3", "2:10.0"}),
              catalog.osVersions);
    ASSERT_EQ(2u, catalog.files.size());
    EXPECT_EQ("68376c0fb8835325ec262051b58fb5b1841e8c87", catalog.files[0].hash);
    EXPECT_EQ("4c6bd36677218e0fc3036cfe1a2a360f777642bb", catalog.files[1].hash);
    size_t dllMembers = 0;
    for (const CatalogMember& member : catalog.contents.members) {
        dllMembers += member.file == kDll && member.peImage ? 1 : 0;
    }
    EXPECT_EQ(2u, dllMembers);  // two builds of the co-installer, both by image hash

    CheckRun verdict = OsslVerify(kPololu + "/" + kCatalog, "");
    EXPECT_EQ(0, verdict.exitCode) << verdict.output;
    EXPECT_NE(verdict.output.find("Subject: " + catalog.contents.signerSubject + "\n"), std::string::npos)
        << catalog.contents.signerSubject << "\n"
        << verdict.output;
    // The time stamp's time, as every osslsigncode version prints it.
    EXPECT_NE(verdict.output.find("Aug 14 21:33:22 2019 GMT"), std::string::npos) << verdict.output;
}

TEST(PololuCatalog, JsonMatchesTheText)
{
    CheckRun text = RunCheck({kPololu, "tic.inf"});
    CheckRun json = RunCheck({kPololu, "tic.inf", "--json"});
    EXPECT_EQ(CHECK_WARNINGS, text.exitCode);  // the package lacks the companion tool
    ExpectJsonMatchesText(json.output, text.output);
    EXPECT_NE(
        text.output.find("  Signature: intact; signer \"Pololu Corporation\"; signed 2019-08-14T21:33:22Z "
                         "(time stamp); digest sha256\n"),
        std::string::npos)
        << text.output;
}

}  // namespace
