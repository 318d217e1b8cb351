#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DevCtl.h"
#include "SimulatedDevCtl.h"
#include "TestFiles.h"

namespace {

const char kPublisherSha1[] = "FF503C4D7764E72598E80C74ECA3B92D9A46BAAF";

std::string Fixture(const std::string& name)
{
    std::ifstream file(std::string(MERVO_TEST_CERTIFICATES) + "/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    EXPECT_FALSE(bytes.str().empty()) << name;
    return bytes.str();
}

// The publisher's certificate in PEM, padded with line ends to `size` bytes.
std::string PaddedPem(size_t size)
{
    std::string pem = Fixture("publisher.pem");
    return pem + std::string(size - pem.size(), '\n');
}

struct TrustCase {
    const char* name;
    std::vector<std::string> words;  // "<file>" stands for the file written
    std::string file;                // its bytes; "<missing>": no file is written
    std::function<void()> prepare;
    int code;
    bool trustedAfter;  // the publisher's certificate is in TrustedPublisher afterwards
    const char* line;   // the last line printed begins with it
};

TEST(TrustCommand, TakesOnlyAPublishersCodeSigningCertificateIntoTrustedPublisher)
{
    const std::string der = Fixture("publisher.cer");
    const auto trusted = [der] { SimTree().stores["TrustedPublisher"] = {der}; };
    const auto trustedWithFailure = [der](bool SimDeviceTree::*failure) {
        return [der, failure] {
            SimTree().stores["TrustedPublisher"] = {der};
            SimTree().*failure = true;
        };
    };
    // clang-format off
    const TrustCase cases[] = {
        {"PEM", {"trust", "<file>"}, Fixture("publisher.pem"), nullptr, 0, true, "Certificate FF503C4D"},
        {"DER", {"TRUST", "<file>"}, der, nullptr, 0, true, "Certificate FF503C4D"},
        {"PEM after a comment", {"trust", "<file>"}, "\xEF\xBB\xBFMERVO publisher\r\n" + Fixture("publisher.pem"), nullptr, 0, true, "Certificate FF503C4D"},
        {"again: one copy", {"trust", "<file>"}, der, trusted, 0, true, "Certificate FF503C4D"},
        {"file of 65536 bytes", {"trust", "<file>"}, PaddedPem(65536), nullptr, 0, true, "Certificate"},
        {"file of 65537 bytes", {"trust", "<file>"}, PaddedPem(65537), nullptr, 79, false, "<file> is larger"},
        {"CA certificate", {"trust", "<file>"}, Fixture("ca.pem"), nullptr, 80, false, "<file> is a CA"},
        {"server certificate", {"trust", "<file>"}, Fixture("server.pem"), nullptr, 81, false, "<file> is not a code-signing"},
        {"no extended key usage", {"trust", "<file>"}, Fixture("noeku.pem"), nullptr, 81, false, "<file> is not a code-signing"},
        {"text", {"trust", "<file>"}, "MERVO publisher\r\n", nullptr, 79, false, "<file> holds no certificate"},
        {"empty file", {"trust", "<file>"}, "", nullptr, 79, false, "<file> holds no certificate"},
        {"missing file", {"trust", "<file>"}, "<missing>", nullptr, 78, false, "Cannot open the certificate file <file>."},
        {"cut DER", {"trust", "<file>"}, der.substr(0, der.size() - 1), nullptr, 79, false, "<file> holds no"},
        {"store cannot be opened", {"trust", "<file>"}, der, [] { SimTree().storeOpenFails = true; }, 82, false, "The local machine's TrustedPublisher store cannot"},
        {"add refused", {"trust", "<file>"}, der, [] { SimTree().storeAddFails = true; }, 83, false, "The local machine's TrustedPublisher store refused"},
        {"commit refused", {"trust", "<file>"}, der, [] { SimTree().storeCommitFails = true; }, 83, false, "The local machine's TrustedPublisher store refused"},
        {"untrust", {"untrust", "<file>"}, Fixture("publisher.pem"), trusted, 0, false, "Certificate FF503C4D"},
        {"untrust absent", {"untrust", "<file>"}, der, nullptr, 84, false, "Certificate FF503C4D"},
        {"untrust refused", {"untrust", "<file>"}, der, trustedWithFailure(&SimDeviceTree::storeDeleteFails), 83, true, "The local"},
        // Without the commit the deletion never reaches the store.
        {"untrust commit refused", {"untrust", "<file>"}, der, trustedWithFailure(&SimDeviceTree::storeCommitFails), 83, true, "The local"},
        {"untrust CA", {"untrust", "<file>"}, Fixture("ca.pem"), nullptr, 80, false, "<file> is a CA"},
        {"no file named", {"trust"}, "", nullptr, 64, false, "trust and untrust take a certificate file."},
        {"two files", {"untrust", "<file>", "<file>"}, der, nullptr, 64, false, "trust and untrust take a certificate file."},
    };
    // clang-format on
    for (const TrustCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimTreeReset();
        const std::string root = Fixture("ca.pem");
        SimTree().stores["Root"] = {root};
        const std::string path =
            c.file == "<missing>" ? std::string("C:\\missing.cer") : WriteTestFile("maker.cer", c.file);
        if (c.prepare) {
            c.prepare();
        }
        std::vector<std::string> words;
        for (const std::string& word : c.words) {
            words.push_back(word == "<file>" ? path : word);
        }
        EXPECT_EQ(c.code, SimRunWords(words));
        const std::vector<std::string>& publishers = SimTree().stores["TrustedPublisher"];
        EXPECT_EQ(c.trustedAfter ? std::vector<std::string>{der} : std::vector<std::string>{}, publishers);
        EXPECT_EQ(std::vector<std::string>{root}, SimTree().stores["Root"]);
        for (const std::string& opened : SimTree().storesOpened) {
            EXPECT_EQ("TrustedPublisher", opened);
        }
        EXPECT_EQ(c.code >= 82 || c.code == 0 ? 1u : 0u, SimTree().storesOpened.size());
        EXPECT_EQ(0, SimTree().openStores);
        ASSERT_FALSE(SimTree().output.empty());
        std::string line = c.line;
        const size_t file = line.find("<file>");
        if (file != std::string::npos) {
            line.replace(file, 6, path);
        }
        // A usage error's own line comes before the usage text.
        const std::string& last = c.code == 64 ? SimTree().output.front() : SimTree().output.back();
        EXPECT_EQ(0u, last.rfind(line, 0)) << last;
        if (c.code == 0 || c.code == 84) {
            EXPECT_NE(std::string::npos, last.find(kPublisherSha1)) << last;
        }
    }
}

}  // namespace
