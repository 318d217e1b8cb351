// The ctest fixture packagecheck_pki: makes the throw-away certificates,
// keys, signed catalogs and signed PE samples of the package check's tests
// once per test run, with openssl and osslsigncode, into the build tree
// (see TestPki.h), or finds it made and up to date. Another certificate is
// one more row of kCertificates.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "CatalogReader.h"
#include "CheckSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPololu = MERVO_SIGNED_PACKAGES "/pololu-tic";
// Made beside the final folder, and put in its place when all is made.
const std::string kMaking = MERVO_TEST_PKI ".new";

const std::string kCaOnly = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign";
const std::string kCa = kCaOnly + "\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid";
const char kCodeSigning[] =
    "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n"
    "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid";
const char kServerAuth[] =
    "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n"
    "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid";
const char kTimeStamping[] =
    "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=critical,timeStamping\n"
    "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid";
const char kDigiCert[] = "/C=US/O=DigiCert Inc/OU=www.digicert.com/CN=DigiCert Assured ID Root CA";
const char kLongAgo[] = "20100101000000Z";
const char kFarAhead[] = "20491231235959Z";

struct CertificateSpec {
    const char* name;
    const char* subject;
    const char* issuer;  // "": self-signed
    const char* from;    // YYYYMMDDHHMMSSZ
    const char* to;
    std::string extensions;
    // "rsa" or "ec": a new key of that kind (EC keys are made at once; RSA
    // where an RSA-only form is signed: older countersignatures); else the
    // certificate whose key this one certifies too.
    const char* key;
};

// clang-format off
const CertificateSpec kCertificates[] = {
    // A self-signed code-signing certificate, trusted by no root.
    {"self", "/O=MERVO Test/CN=MERVO Test Signing", "", "20200101000000Z", kFarAhead, kCodeSigning, "rsa"},
    // A root, a time-stamp authority, and vendor certificates valid for two days.
    {"root", "/CN=MERVO Test Root", "", "20200101000000Z", kFarAhead, kCa, "ec"},
    {"tsa", "/CN=MERVO Test TSA", "root", "20200101000000Z", kFarAhead, kTimeStamping, "rsa"},
    {"vendor", "/CN=MERVO Test Vendor", "root", "20240101000000Z", "20240103000000Z", kCodeSigning, "rsa"},
    {"server", "/CN=MERVO Test Vendor", "root", "20240101000000Z", "20240103000000Z", kServerAuth, "ec"},
    // Cross-signing: a root with the subject and key id of a vendor root that
    // Microsoft cross-signed (its key is a throw-away one), a CA under it, signers.
    {"digicert", kDigiCert, "", kLongAgo, "20350101000000Z",
     kCaOnly + "\nsubjectKeyIdentifier=45:EB:A2:AF:F4:92:CB:82:31:2D:51:8B:A7:A7:21:9D:F3:6D:C8:0F", "ec"},
    {"crossCa", "/CN=MERVO Test Code Signing CA", "digicert", kLongAgo, "20350101000000Z", kCa, "ec"},
    {"signer2015", "/CN=MERVO Test Vendor", "crossCa", "20150101000000Z", "20170101000000Z", kCodeSigning, "ec"},
    {"signer2016", "/CN=MERVO Test Vendor", "crossCa", "20160101000000Z", "20180101000000Z", kCodeSigning, "ec"},
    {"signer2020", "/CN=MERVO Test Vendor", "crossCa", "20200101000000Z", "20300101000000Z", kCodeSigning, "ec"},
    {"stamper", "/CN=MERVO Test TSA", "digicert", kLongAgo, "20350101000000Z", kTimeStamping, "ec"},
    // A newer root, self-signed and also issued by that cross-signed root (same key).
    {"rootG2", "/CN=MERVO Test Root G2", "", kLongAgo, "20350101000000Z", kCa, "ec"},
    {"rootG2ByDigicert", "/CN=MERVO Test Root G2", "digicert", kLongAgo, "20350101000000Z", kCa, "rootG2"},
    {"caG2", "/CN=MERVO Test Code Signing CA G2", "rootG2", kLongAgo, "20350101000000Z", kCa, "ec"},
    {"signerG2", "/CN=MERVO Test Vendor", "caG2", "20150101000000Z", "20170101000000Z", kCodeSigning, "ec"},
    {"stamperG2", "/CN=MERVO Test TSA", "rootG2", kLongAgo, "20350101000000Z", kTimeStamping, "ec"},
    // A certificate that claims Microsoft Code Verification Root as its issuer.
    {"fakeMicrosoft", "/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=Microsoft Code Verification Root",
     "", kLongAgo, "20350101000000Z",
     "basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=62:FB:0A:21:5B:7F:43:6E:11:DA:09:54:50:6B:F5:D2:96:71:F1:9E", "ec"},
    {"fakeCross", "/CN=MERVO Test Root", "fakeMicrosoft", kLongAgo, "20350101000000Z",
     "basicConstraints=critical,CA:TRUE\nauthorityKeyIdentifier=keyid", "ec"},
};
// clang-format on

std::string Made(const std::string& name)
{
    return kMaking + "/" + name;
}

// Issues one certificate with `openssl ca` (dates in the past too), and its
// chain file: it and its issuer's chain.
void Issue(const CertificateSpec& spec)
{
    const std::string name = spec.name;
    const std::string kind = spec.key;
    bool made = kind == "rsa" || kind == "ec";
    std::string key = made ? Made(name + ".key") : Made(kind + ".key");
    std::ofstream(Made(name + ".ext")) << spec.extensions << "\n";
    std::string newKey = !made ? " -key '" + key + "'"
                         : kind == "rsa"
                             ? " -newkey rsa:2048 -nodes -keyout '" + key + "'"
                             : " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout '" + key + "'";
    std::string signing = *spec.issuer == '\0'
                              ? " -selfsign -keyfile '" + key + "'"
                              : " -cert '" + Made(std::string(spec.issuer) + ".pem") + "' -keyfile '" +
                                    Made(std::string(spec.issuer) + ".key") + "'";
    std::string chain = *spec.issuer == '\0' ? "" : " '" + Made(std::string(spec.issuer) + ".chain") + "'";
    CheckRun run = RunCommand("openssl req -new" + newKey + " -subj '" + spec.subject + "' -out '" +
                              Made(name + ".csr") + "' && openssl ca -batch -config '" + Made("ca.cnf") +
                              "'" + signing + " -in '" + Made(name + ".csr") + "' -out '" +
                              Made(name + ".pem") + "' -startdate " + spec.from + " -enddate " + spec.to +
                              " -extfile '" + Made(name + ".ext") + "' -notext -preserveDN && cat '" +
                              Made(name + ".pem") + "'" + chain + " > '" + Made(name + ".chain") + "'");
    ASSERT_EQ(0, run.exitCode) << name << "\n" << run.output;
}

// The catalog's bytes as the package has them.
std::string Pololu()
{
    return ReadFile(kPololu + "/pololu.cat");
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    size_t count = 0;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        ++count;
    }
    EXPECT_GT(count, 0u) << from;
    return text;
}

std::string Sha1Of(const std::string& bytes)
{
    std::string digest;
    EXPECT_TRUE(DigestRanges("sha1", bytes, {ByteRange{0, bytes.size()}}, &digest));
    return digest;
}

// The sample image's SHA-1 image hash, as osslsigncode computes it.
std::string SampleImageHash()
{
    std::string hex = ReferenceDigest(Made("self.pem"), Made("pe/sample32.exe.sha1"));
    std::string raw;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return raw;
}

// The catalog with the image hash of the DLL's member at `at` replaced by the sample's.
std::string WithSampleHashAt(std::string der, size_t at, const char* before)
{
    EXPECT_EQ(before, HexUpper(der.substr(at, kDllDigestSize)));
    return der.replace(at, kDllDigestSize, SampleImageHash());
}

// The DLL's first member made one of an algorithm no build knows (1.3.14.3.2.127).
std::string WithUnknownFirstDllAlgorithm(std::string der)
{
    EXPECT_EQ("2B0E03021A", HexUpper(der.substr(kDllAlgorithmEnd - 4, 5)));
    der[kDllAlgorithmEnd] = '\x7F';
    return der;
}

// The vendor package with a driver of its own: the co-installer's members
// renamed to a .sys holding the sample image's hash, the INF naming it, the
// INF's member holding the changed INF's hash. Writes the package folder and
// gives its catalog, unsigned.
std::string DriverPackage()
{
    const std::string folder = Made("packages/driver");
    fs::create_directories(folder);
    fs::copy(kPololu, folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::string image = ReadFile(MERVO_PE_SAMPLES "/sample32.exe");
    std::ofstream(folder + "/" + kDriver, std::ios::binary) << image;
    std::string inf = ReadFile(folder + "/tic.inf");
    std::string changed = inf + "\r\n[SourceDisksFiles]\r\n" + kDriver + "=1\r\n";
    fs::permissions(folder + "/tic.inf", fs::perms::owner_write, fs::perm_options::add);
    std::ofstream(folder + "/tic.inf", std::ios::binary) << changed;
    fs::remove(folder + "/pololu.cat");
    std::string der = ReplaceAll(Replace(Pololu(), Sha1Of(inf), Sha1Of(changed)), Wide(kDll), Wide(kDriver));
    return WithSampleHashAt(der, kDllDigestAt, "056399FAACB9FC49F3CF78BFC3D9F2F463E5012E");
}

struct CatalogSpec {
    const char* name;  // catalogs/<name>.cat
    std::function<std::string()> content;
    std::vector<std::string> chain;  // the signer, then the certificates the catalog carries
    const char* authority = "";      // the time-stamp authority: its key and chain; "": no stamp
    long long stampTime = 0;
    std::string cross;  // a cross-certificate file the catalog carries
};

const std::string kRealCross =
    std::string(MERVO_PACKAGECHECK_TRUST_SOURCE_DIR) + "/" + kTrustCrossCertificatesFolder + "/" + kCrossFile;

// clang-format off
const CatalogSpec kCatalogs[] = {
    {"pololu-self", Pololu, {"self"}, "", 0, ""},
    {"pololu-vendor", Pololu, {"vendor", "root"}, "", 0, ""},
    {"pololu-vendor-stamped", Pololu, {"vendor", "root"}, "tsa", kStampInTime, ""},
    {"pololu-vendor-stamped-late", Pololu, {"vendor", "root"}, "tsa", kStampLate, ""},
    {"pololu-server", Pololu, {"server", "root"}, "", 0, ""},
    {"pololu-fake-cross", Pololu, {"vendor", "root"}, "", 0, Made("fakeCross.pem")},
        {"pololu-no-stager-system",
     [] { return ReplaceAll(ReplaceAll(Pololu(), Wide("2:5.1,"), Wide("2:9.1,")), Wide("2:6.0,"), Wide("2:9.0,")); },
     {"self"}, "", 0, ""},
    {"pololu-no-later-system",
     [] {
         std::string der = ReplaceAll(Pololu(), Wide("2:6.1,"), Wide("2:5.0,"));
         der = ReplaceAll(der, Wide("2:6.2,"), Wide("2:5.2,"));
         der = ReplaceAll(der, Wide("2:6.3,"), Wide("2:5.2,"));
         return ReplaceAll(der, Wide("2:10.0"), Wide("2:01.0"));
     },
     {"self"}, "", 0, ""},
    {"pololu-sample-hash",
     [] { return WithSampleHashAt(Pololu(), kDllDigestAt, "056399FAACB9FC49F3CF78BFC3D9F2F463E5012E"); }, {"self"}, "", 0, ""},
    {"pololu-unknown-algorithm", [] { return WithUnknownFirstDllAlgorithm(Pololu()); }, {"self"}, "", 0, ""},
    {"pololu-unknown-algorithm-second-covers",
     [] {
         return WithSampleHashAt(WithUnknownFirstDllAlgorithm(Pololu()), kSecondDllDigestAt,
                                 "A0D03C75D36F1FF227B262BC3AA08777E73512F0");
     },
     {"self"}, "", 0, ""},
    {"driver-vendor", DriverPackage, {"vendor", "root"}, "", 0, ""},
    {"driver-2015", DriverPackage, {"signer2015", "crossCa", "digicert"}, "stamper", kStamp2016, kRealCross},
    {"driver-2016", DriverPackage, {"signer2016", "crossCa", "digicert"}, "stamper", kStamp2016June, kRealCross},
    {"driver-2020", DriverPackage, {"signer2020", "crossCa", "digicert"}, "stamper", kStamp2022, kRealCross},
    // The catalog carries the newer root as issued by the cross-signed one, not its self-signed form.
    {"driver-g2", DriverPackage, {"signerG2", "caG2", "rootG2ByDigicert"}, "stamperG2", kStamp2016, kRealCross},
};
// clang-format on

void SignCatalog(const CatalogSpec& spec)
{
    const std::string unsignedFile = Made(std::string("catalogs/") + spec.name + ".unsigned");
    std::ofstream(unsignedFile, std::ios::binary) << spec.content();
    std::string certificates = Made(std::string("catalogs/") + spec.name + ".certs");
    std::string cat = "cat";
    for (const std::string& name : spec.chain) {
        cat += " '" + Made(name + ".pem") + "'";
    }
    std::string stamp = *spec.authority == '\0'
                            ? std::string()
                            : " -TSA-certs '" + Made(std::string(spec.authority) + ".chain") +
                                  "' -TSA-key '" + Made(std::string(spec.authority) + ".key") +
                                  "' -TSA-time " + std::to_string(spec.stampTime);
    CheckRun run =
        RunCommand(cat + " > '" + certificates + "' && osslsigncode sign -certs '" + certificates +
                   "' -key '" + Made(spec.chain[0] + ".key") + "' -h sha256" + stamp +
                   (spec.cross.empty() ? std::string() : " -ac '" + spec.cross + "'") + " -in '" +
                   unsignedFile + "' -out '" + Made(std::string("catalogs/") + spec.name + ".cat") + "'");
    ASSERT_EQ(0, run.exitCode) << spec.name << "\n" << run.output;
}

// The last file made: the folder is complete.
const std::string kComplete = "complete";

// A complete folder newer than this program and than what it is made from is
// used as it is, so that a test run that repeats its tests (ctest --repeat)
// or a later one makes it once.
bool UpToDate()
{
    std::error_code error;
    fs::file_time_type made = fs::last_write_time(PkiFile(kComplete), error);
    const std::string inputs[] = {"/proc/self/exe", MERVO_PE_SAMPLES "/sample32.exe",
                                  MERVO_PE_SAMPLES "/sample64.dll", kPololu + "/pololu.cat", kRealCross};
    for (const std::string& input : inputs) {
        if (error || fs::last_write_time(input, error) > made) {
            return false;
        }
    }
    return !error;
}

TEST(TestPki, IsMade)
{
    if (UpToDate()) {
        GTEST_SKIP() << MERVO_TEST_PKI " is up to date";
    }
    std::error_code ignored;
    fs::remove_all(kMaking, ignored);
    fs::create_directories(Made("catalogs"));
    fs::create_directories(Made("pe"));
    std::ofstream(Made("ca.cnf"))
        << "[ca]\ndefault_ca=d\n[d]\ndatabase=" << Made("index.txt") << "\nserial=" << Made("serial")
        << "\nnew_certs_dir=" << kMaking
        << "\ndefault_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncountryName=optional\n"
           "stateOrProvinceName=optional\nlocalityName=optional\n"
           "organizationName=optional\norganizationalUnitName=optional\n"
           "commonName=supplied\n";
    std::ofstream(Made("index.txt"));
    std::ofstream(Made("serial")) << "1000\n";
    for (const CertificateSpec& spec : kCertificates) {
        ASSERT_NO_FATAL_FAILURE(Issue(spec));
    }
    for (const char* sample : {"sample32.exe", "sample64.dll"}) {
        for (const char* hash : {"sha1", "sha256"}) {
            CheckRun run =
                RunCommand("osslsigncode sign -certs '" + Made("self.pem") + "' -key '" + Made("self.key") +
                           "' -h " + hash + " -in '" MERVO_PE_SAMPLES "/" + sample + "' -out '" +
                           Made(std::string("pe/") + sample + "." + hash) + "'");
            ASSERT_EQ(0, run.exitCode) << run.output;
        }
    }
    for (const CatalogSpec& spec : kCatalogs) {
        ASSERT_NO_FATAL_FAILURE(SignCatalog(spec));
    }
    // Signed data of another content type than a trust list; the real signer's certificate.
    CheckRun run = RunCommand("openssl smime -sign -binary -nodetach -outform DER -in '" + kPololu +
                              "/tic.inf' -signer '" + Made("self.pem") + "' -inkey '" + Made("self.key") +
                              "' -out '" + Made("catalogs/smime.p7") + "'");
    ASSERT_EQ(0, run.exitCode) << run.output;
    std::ofstream(Made("pololu-publisher.pem"))
        << CertificateFrom(kPololu + "/pololu.cat", "Pololu Corporation");

    std::ofstream(Made(kComplete));
    fs::remove_all(MERVO_TEST_PKI, ignored);
    fs::rename(kMaking, MERVO_TEST_PKI);
}

}  // namespace
