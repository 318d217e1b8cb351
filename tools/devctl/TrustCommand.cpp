// trust and untrust: the device maker's publisher certificate in the local
// machine's TrustedPublisher store, so that Windows stages the maker's signed
// packages without asking whether to trust the publisher.
#include <cstdio>

#include "DevCtl.h"
#include "common/BoundedText.h"

namespace {

// The one store these commands open: never Root, never another.
const char kStoreName[] = "TrustedPublisher";

// One line of the report; a macro so that each format is checked against its arguments.
#define REPORT(...)                                             \
    do {                                                        \
        char reportLine[DEVCTL_LINE_SIZE];                      \
        FormatText(reportLine, sizeof reportLine, __VA_ARGS__); \
        DevCtlPlatform.WriteLine(reportLine);                   \
    } while (0)

// Reads the whole file into `bytes` (room for DC_CERTIFICATE_SIZE bytes);
// one byte more tells a file larger than any certificate. Returns 0, or an
// exit code.
int ReadCertificateFile(const char* path, uint8_t* bytes, uint32_t* size)
{
    static uint8_t extra;
    FILE* stream = DevCtlPlatform.OpenStream(path, "rb");
    if (stream == nullptr) {
        REPORT("Cannot open the certificate file %s.", path);
        return DEVCTL_EXIT_CERTIFICATE_UNREADABLE;
    }
    size_t length = fread(bytes, 1, DC_CERTIFICATE_SIZE, stream);
    size_t more = length == DC_CERTIFICATE_SIZE ? fread(&extra, 1, 1, stream) : 0;
    int failed = ferror(stream);
    fclose(stream);
    if (failed) {
        REPORT("Cannot read the certificate file %s.", path);
        return DEVCTL_EXIT_CERTIFICATE_UNREADABLE;
    }
    if (more != 0) {
        REPORT("%s is larger than any certificate: nothing was done.", path);
        return DEVCTL_EXIT_NOT_A_CERTIFICATE;
    }
    *size = static_cast<uint32_t>(length);
    return DEVCTL_EXIT_OK;
}

// Whether the certificate may stand for a publisher. Returns 0, or an exit code.
int CheckPublisherCertificate(const char* path, const uint8_t* bytes, uint32_t size,
                              DcCertificate* certificate)
{
    if (!DevCtlPlatform.DecodeCertificate(bytes, size, certificate)) {
        REPORT("%s holds no certificate (DER or PEM): nothing was done.", path);
        return DEVCTL_EXIT_NOT_A_CERTIFICATE;
    }
    if (certificate->isAuthority) {
        REPORT("%s is a CA certificate (%s): only a publisher's own certificate is taken.", path,
               certificate->sha1);
        return DEVCTL_EXIT_AUTHORITY_CERTIFICATE;
    }
    if (!certificate->codeSigning) {
        REPORT("%s is not a code-signing certificate (%s): nothing was done.", path, certificate->sha1);
        return DEVCTL_EXIT_NOT_CODE_SIGNING;
    }
    return DEVCTL_EXIT_OK;
}

}  // namespace

int ChangePublisherTrust(const char* path, int add)
{
    static uint8_t bytes[DC_CERTIFICATE_SIZE];
    static DcCertificate certificate;
    uint32_t size = 0;
    int code = ReadCertificateFile(path, bytes, &size);
    if (code == DEVCTL_EXIT_OK) {
        code = CheckPublisherCertificate(path, bytes, size, &certificate);
    }
    if (code != DEVCTL_EXIT_OK) {
        return code;
    }
    DcHandle store = DevCtlPlatform.CertOpenLocalMachineStore(kStoreName);
    if (store == nullptr) {
        REPORT("The local machine's %s store cannot be opened: nothing was done.", kStoreName);
        return DEVCTL_EXIT_NO_PUBLISHER_STORE;
    }
    int deleted = 0;
    if (add) {
        code = DevCtlPlatform.CertAddEncodedCertificateToStore(store, certificate.der, certificate.derSize)
                   ? DEVCTL_EXIT_OK
                   : DEVCTL_EXIT_STORE_REFUSED;
    } else {
        deleted = DevCtlPlatform.CertDeleteEncodedCertificate(store, certificate.der, certificate.derSize);
        code = deleted == 0   ? DEVCTL_EXIT_OK
               : deleted == 1 ? DEVCTL_EXIT_NOT_TRUSTED
                              : DEVCTL_EXIT_STORE_REFUSED;
    }
    // Closed with a commit also after a refusal, so the store is never left open.
    if (!DevCtlPlatform.CertCommitAndCloseStore(store) && code == DEVCTL_EXIT_OK) {
        code = DEVCTL_EXIT_STORE_REFUSED;
    }
    switch (code) {
    case DEVCTL_EXIT_OK:
        REPORT(add ? "Certificate %s added to the local machine's %s store."
                   : "Certificate %s taken out of the local machine's %s store.",
               certificate.sha1, kStoreName);
        break;
    case DEVCTL_EXIT_NOT_TRUSTED:
        REPORT("Certificate %s was not in the local machine's %s store: nothing to do.", certificate.sha1,
               kStoreName);
        break;
    default:
        REPORT("The local machine's %s store refused the change of certificate %s.", kStoreName,
               certificate.sha1);
        break;
    }
    return code;
}
