#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>

#include "IDeviceScanEventProducer.h"
#include "IDeviceScanSP.h"
#include "IServPlugin.h"

namespace {

using qv::InterfaceId;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using qv::rnsdk::FileScan::IDeviceScanSP;

// The identities are published in GUID text form; the two halves must be the same 16 bytes, and
// every byte of both halves must take part in equality.
TEST(InterfaceIdentity, HalvesAreThePublishedGuidsAndEveryByteCounts) {
    const struct {
        InterfaceId id;
        const wchar_t* text;
    } published[] = {
        {qv::IQvBaseInterface::kId, L"{66551AB3-FCA3-BC90-5F42-C5F792E24B51}"},
        {qv::IServPlugin::kId, L"{414E2323-04D0-9833-7641-887C5D8252E9}"},
        {IDeviceScanSP::kId, L"{700DEBC8-B4DC-B4C1-E546-623EA7DAB617}"},
        {IDeviceScanEventProducer::kId, L"{328B2BC6-3AFD-9ED2-5B42-083A9508491E}"},
    };
    for (const auto& [id, text] : published) {
        GUID guid;
        ASSERT_EQ(IIDFromString(text, &guid), S_OK);
        EXPECT_EQ(std::memcmp(&id, &guid, sizeof(guid)), 0) << text;
        EXPECT_TRUE(id == id);
        for (std::size_t byte = 0; byte < sizeof(InterfaceId); ++byte) {
            InterfaceId changed = id;
            reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
            EXPECT_FALSE(changed == id) << "byte " << byte;
        }
    }
}

}  // namespace
