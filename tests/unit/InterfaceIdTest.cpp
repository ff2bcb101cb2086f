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

// The identities are published in GUID text form; the halves must be the same 16 bytes.
void ExpectSameBytesAsGuidText(const InterfaceId& id, const wchar_t* text) {
    GUID guid;
    ASSERT_EQ(IIDFromString(text, &guid), S_OK) << text;
    EXPECT_EQ(std::memcmp(&id, &guid, sizeof(guid)), 0) << text;
}

TEST(InterfaceIdentity, HalvesAreTheBytesOfThePublishedGuids) {
    ExpectSameBytesAsGuidText(qv::IQvBaseInterface::kId, L"{66551AB3-FCA3-BC90-5F42-C5F792E24B51}");
    ExpectSameBytesAsGuidText(qv::IServPlugin::kId, L"{414E2323-04D0-9833-7641-887C5D8252E9}");
    ExpectSameBytesAsGuidText(IDeviceScanSP::kId, L"{700DEBC8-B4DC-B4C1-E546-623EA7DAB617}");
    ExpectSameBytesAsGuidText(IDeviceScanEventProducer::kId,
                              L"{328B2BC6-3AFD-9ED2-5B42-083A9508491E}");
}

TEST(InterfaceIdentity, EveryByteTakesPartInEquality) {
    const InterfaceId ids[] = {qv::IQvBaseInterface::kId, qv::IServPlugin::kId, IDeviceScanSP::kId,
                               IDeviceScanEventProducer::kId};
    for (const InterfaceId& id : ids) {
        EXPECT_TRUE(id == id);
        for (size_t byte = 0; byte < sizeof(InterfaceId); ++byte) {
            InterfaceId changed = id;
            reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
            EXPECT_FALSE(changed == id) << "byte " << byte;
        }
    }
    for (size_t i = 0; i < std::size(ids); ++i) {
        for (size_t j = i + 1; j < std::size(ids); ++j) {
            EXPECT_FALSE(ids[i] == ids[j]);
        }
    }
}

TEST(InterfaceIdentity, MatchingHighHalfAloneIsNotEqual) {
    const InterfaceId sameHigh{0, qv::IServPlugin::kId.high};
    EXPECT_FALSE(sameHigh == qv::IServPlugin::kId);
}

}  // namespace
