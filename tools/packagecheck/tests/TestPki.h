// What MakeTestPki.cpp makes once per test run (the ctest fixture
// packagecheck_pki) and the tests use: throw-away certificates and keys,
// catalogs signed with them, signed PE samples. All dates are fixed, so that
// a test says at which time it judges.
#pragma once

#include <string>

// A file of the made folder: "<name>.pem" and "<name>.key" per certificate,
// "<name>.chain" with its issuers; "catalogs/<name>.cat"; "pe/<sample>.<hash>";
// "packages/driver" (the vendor package with a driver file of its own).
std::string PkiFile(const std::string& name);

// Seconds since 1970 (UTC).
inline constexpr long long kDay = 24 * 60 * 60;
// "vendor" and "server" are valid for these two days of 2024.
inline constexpr long long kVendorFrom = 1704067200;  // 2024-01-01
inline constexpr long long kVendorValid = kVendorFrom + kDay;
inline constexpr long long kVendorExpired = kVendorFrom + 5 * kDay;
inline constexpr long long kStampInTime = kVendorFrom + 60 * 60;
inline constexpr long long kStampLate = kVendorFrom + 10 * kDay;
// When the cross-signed drivers are stamped: their signer from 2015 and from
// 2016 in time, and the one from 2020 after the cross-certificate expired.
inline constexpr long long kStamp2016 = 1451606400;  // 2016-01-01
inline constexpr long long kStamp2016June = 1464739200;
inline constexpr long long kStamp2022 = 1640995200;

// The real cross-certificate the made cross-signed catalogs carry.
inline constexpr char kCrossFile[] = "digicert-assured-id-root-ca.pem";
// The driver file of packages/driver: the sample image under a co-installer's name.
inline constexpr char kDriver[] = "wdfcoinstaller01009.sys";

// Offsets in pololu.cat (openssl asn1parse shows them): the SHA-1 image hash
// of the co-installer DLL's first member, the last byte of that member's
// SHA-1 algorithm identifier (1.3.14.3.2.26), the image hash of the DLL's
// second member, and the signer's encrypted digest.
inline constexpr size_t kDllDigestAt = 284;
inline constexpr size_t kDllDigestSize = 20;
inline constexpr size_t kDllAlgorithmEnd = 279;
inline constexpr size_t kSecondDllDigestAt = 8881;
inline constexpr size_t kSignatureAt = 28657;
inline constexpr char kDll[] = "wdfcoinstaller01009.dll";
