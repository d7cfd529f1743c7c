#include "ListFile.h"
#include "ListFileSamples.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

TEST(ListFileExamples, SavesTheTwoEntryListByteForByte) {
    TempDir dir;
    const auto path = dir.file("two.pwk");
    const auto result = SaveListFile(*samples::TwoEntryList(), path.string());
    ASSERT_TRUE(result.Succeeded()) << result.message;
    const auto bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size(), 149u);
    EXPECT_EQ(bytes, samples::TwoEntryCurrent());
}

TEST(ListFileExamples, LoadsBothLayoutsOfTheTwoEntryList) {
    TempDir dir;
    for (const auto& bytes : {samples::TwoEntryCurrent(), samples::TwoEntryOld()}) {
        const auto path = dir.file("in.pwk");
        WriteFileBytes(path, bytes);
        const auto result = LoadListFile(path.string());
        ASSERT_TRUE(result.HasList()) << result.message << " " << result.causeText;
        const CItemList& list = *result.list;
        EXPECT_EQ(list.m_nPeriod, 15);
        EXPECT_EQ(list.m_nComPort, 1);
        EXPECT_EQ(list.m_bMail, 0);
        EXPECT_EQ(list.m_strServer, "127.0.0.1");
        EXPECT_EQ(list.m_strModemInit, "AT Q0 E0 M0 V0");
        ASSERT_EQ(list.GetCount(), 2u);
        EXPECT_EQ(list.GetAt(0).m_bResult, 1);
        EXPECT_EQ(list.GetAt(0).m_bConnect, 0);
        EXPECT_EQ(list.GetAt(0).m_strAddress, "10.0.0.1");
        EXPECT_EQ(list.GetAt(0).m_nPort, 80);
        EXPECT_EQ(list.GetAt(1).m_bResult, 0);
        EXPECT_EQ(list.GetAt(1).m_bConnect, 1);
        EXPECT_EQ(list.GetAt(1).m_strAddress, "10.0.0.2");
        EXPECT_EQ(list.GetAt(1).m_nPort, 25);
    }
}

} // namespace
