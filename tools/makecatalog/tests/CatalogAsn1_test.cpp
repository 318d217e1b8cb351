// The catalog's DER forms against real catalogs.
#include <gtest/gtest.h>

#include "CatalogAsn1.h"
#include "CheckSupport.h"

namespace {

const std::string kPackages = MERVO_SIGNED_PACKAGES;

// Every real catalog, decoded and encoded again, gives its members and
// attributes byte for byte: the templates write the forms real catalogs hold.
TEST(CatalogAsn1, RealCatalogsEncodeAgainByteForByte)
{
    for (const char* name : {"argyll-libusb0/ArgyllCMS.cat", "argyll-libusb0/ArgyllCMS_x64.cat",
                             "tidepool-webusb/winusbinstallation.cat", "pololu-tic/pololu.cat"}) {
        SCOPED_TRACE(name);
        CatalogList real;
        std::string problem;
        std::vector<std::string> realMembers, realAttributes;
        ASSERT_TRUE(
            DecodeCatalog(ReadFile(kPackages + "/" + name), &real, &problem, &realMembers, &realAttributes))
            << problem;
        std::string made = EncodeCatalog(real);
        ASSERT_FALSE(made.empty());
        CatalogList again;
        std::vector<std::string> madeMembers, madeAttributes;
        ASSERT_TRUE(DecodeCatalog(made, &again, &problem, &madeMembers, &madeAttributes)) << problem;
        EXPECT_EQ(real.sha256, again.sha256);
        EXPECT_EQ(real.listId, again.listId);
        EXPECT_EQ(real.time, again.time);
        ASSERT_EQ(realMembers.size(), madeMembers.size());
        for (size_t k = 0; k < realMembers.size(); ++k) {
            EXPECT_EQ(HexUpper(realMembers[k]), HexUpper(madeMembers[k]))
                << "member " << k << " " << real.members[k].file;
        }
        EXPECT_EQ(realAttributes, madeAttributes);
    }
}

}  // namespace
