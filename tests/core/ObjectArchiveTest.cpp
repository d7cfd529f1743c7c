#include "CItemList.h"
#include "CObjectArchive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

// An anonymous file that archives store to and load from.
class ScratchFile {
public:
    ScratchFile() : m_file(std::tmpfile()) {
        if (!m_file)
            throw std::runtime_error("tmpfile failed");
    }
    ~ScratchFile() { std::fclose(m_file); }
    int fd() const { return ::fileno(m_file); }

private:
    std::FILE* m_file;
};

Bytes Store(const std::function<void(CObjectArchive&)>& write) {
    ScratchFile file;
    CObjectArchive archive(file.fd(), CObjectArchive::Mode::store);
    write(archive);
    archive.Close();
    const off_t size = ::lseek(file.fd(), 0, SEEK_END);
    Bytes bytes(static_cast<std::size_t>(size));
    EXPECT_EQ(::pread(file.fd(), bytes.data(), bytes.size(), 0), size);
    return bytes;
}

void Load(const Bytes& bytes, const std::function<void(CObjectArchive&)>& read) {
    ScratchFile file;
    ASSERT_EQ(::write(file.fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::lseek(file.fd(), 0, SEEK_SET);
    CObjectArchive archive(file.fd(), CObjectArchive::Mode::load, bytes.size());
    read(archive);
}

ArchiveCause LoadFailure(const Bytes& bytes, const std::function<void(CObjectArchive&)>& read) {
    try {
        Load(bytes, read);
    } catch (const CArchiveException& e) {
        return e.m_cause;
    }
    ADD_FAILURE() << "no archive error";
    return ArchiveCause::badIndex;
}

Bytes Prefix(std::size_t length) {
    return Store([&](CObjectArchive& ar) { ar.WriteString(std::string(length, 'x')); });
}

TEST(ArchivePrimitives, NumbersAreLittleEndianAndUnpadded) {
    const Bytes bytes = Store([](CObjectArchive& ar) {
        ar.WriteInt32(-2);
        ar.WriteWord(0x1234);
        ar.WriteDWord(0x89ABCDEF);
    });
    EXPECT_EQ(bytes, (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89}));
    Load(bytes, [](CObjectArchive& ar) {
        EXPECT_EQ(ar.ReadInt32(), -2);
        EXPECT_EQ(ar.ReadWord(), 0x1234);
        EXPECT_EQ(ar.ReadDWord(), 0x89ABCDEFu);
        EXPECT_EQ(ar.BytesLeft(), 0u);
    });
}

TEST(ArchivePrimitives, StringPrefixesChangeAtTheirBoundaries) {
    const std::vector<std::pair<std::size_t, Bytes>> cases = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const auto& testCase : cases) {
        // Plain names: clang before 16 cannot capture a structured binding in a lambda.
        const std::size_t length = testCase.first;
        const Bytes& prefix = testCase.second;
        const Bytes bytes = Prefix(length);
        ASSERT_EQ(bytes.size(), prefix.size() + length) << length;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(prefix.size())), prefix) << length;
        Load(bytes, [&](CObjectArchive& ar) { EXPECT_EQ(ar.ReadString(), std::string(length, 'x')) << length; });
    }
}

TEST(ArchivePrimitives, CountsTakeSixBytesFrom65535) {
    EXPECT_EQ(Store([](CObjectArchive& ar) { ar.WriteCount(65534); }), (Bytes{0xFE, 0xFF}));
    EXPECT_EQ(Store([](CObjectArchive& ar) { ar.WriteCount(65535); }), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
    Load({0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, [](CObjectArchive& ar) {
        EXPECT_EQ(ar.ReadCount(), 65534u);
        EXPECT_EQ(ar.ReadCount(), 65536u);
    });
}

TEST(ArchivePrimitives, WideStringsAreReadAsUtf8) {
    // "Aé€" then U+1F600 as a surrogate pair, after the marker with a one-byte length.
    Load({0xFF, 0xFE, 0xFF, 0x05, 0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE},
         [](CObjectArchive& ar) { EXPECT_EQ(ar.ReadString(), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"); });
    // A word length after the marker, and a lone surrogate that becomes U+FFFD.
    Bytes longWide = {0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x01};
    for (int i = 0; i < 255; ++i)
        longWide.insert(longWide.end(), {0x62, 0x00});
    longWide.insert(longWide.end(), {0x00, 0xDC});
    Load(longWide, [](CObjectArchive& ar) { EXPECT_EQ(ar.ReadString(), std::string(255, 'b') + "\xEF\xBF\xBD"); });
    // Wide lengths count characters of two bytes: a file one byte short is cut.
    EXPECT_EQ(LoadFailure({0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42}, [](CObjectArchive& ar) { ar.ReadString(); }),
              ArchiveCause::endOfFile);
}

TEST(ArchivePrimitives, EveryFieldMustBeWhole) {
    const auto cut = [](const Bytes& bytes, std::function<void(CObjectArchive&)> read) {
        return LoadFailure(bytes, read);
    };
    EXPECT_EQ(cut({0x01, 0x02, 0x03}, [](CObjectArchive& ar) { ar.ReadInt32(); }), ArchiveCause::endOfFile);
    EXPECT_EQ(cut({0x01}, [](CObjectArchive& ar) { ar.ReadWord(); }), ArchiveCause::endOfFile);
    EXPECT_EQ(cut({0xFF, 0xFF}, [](CObjectArchive& ar) { ar.ReadCount(); }), ArchiveCause::endOfFile);
    EXPECT_EQ(cut({0x03, 'a', 'b'}, [](CObjectArchive& ar) { ar.ReadString(); }), ArchiveCause::endOfFile);
    EXPECT_EQ(cut({0xFF, 0xFF}, [](CObjectArchive& ar) { ar.ReadString(); }), ArchiveCause::endOfFile);
    EXPECT_EQ(cut({}, [](CObjectArchive& ar) { ar.ReadObject(); }), ArchiveCause::endOfFile);
}

TEST(ArchiveTags, LongTagsAreWrittenAndReadOnceClassEntriesPass0x7FFE) {
    // 32766 lists take entries 1 (their class) to 32767; the class of the entries then gets
    // 32768, which no short class tag can name.
    constexpr int kLists = 32766;
    const Bytes bytes = Store([](CObjectArchive& ar) {
        CItemList list;
        for (int i = 0; i < kLists; ++i)
            ar.WriteObject(list);
        CItem item;
        item.m_strAddress = "a";
        ar.WriteObject(item);
        item.m_strAddress = "b";
        ar.WriteObject(item);
    });
    const Bytes tail(bytes.end() - 6 - 14, bytes.end() - 14);
    EXPECT_EQ(tail, (Bytes{0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80}));
    Load(bytes, [](CObjectArchive& ar) {
        for (int i = 0; i < kLists; ++i)
            ASSERT_NE(ar.ReadObject(&CItemList::classCItemList), nullptr);
        for (const char* address : {"a", "b"}) {
            const auto object = ar.ReadObject(&CItem::classCItem);
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(static_cast<CItem&>(*object).m_strAddress, address);
        }
    });
}

Bytes ItemRecord() {
    return {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, 'C', 'I', 't', 'e', 'm', 1, 0, 0, 0, 0, 0, 0, 0, 0, 80, 0, 0, 0};
}

TEST(ArchiveTags, ALongClassTagNamesAnEarlierClass) {
    Bytes bytes = ItemRecord();
    bytes.insert(bytes.end(), {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0, 0, 0, 0, 1, 0, 0, 0, 1, 'h', 25, 0, 0, 0});
    Load(bytes, [](CObjectArchive& ar) {
        ASSERT_NE(ar.ReadObject(), nullptr);
        const auto second = ar.ReadObject();
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(static_cast<CItem&>(*second).m_strAddress, "h");
        EXPECT_EQ(static_cast<CItem&>(*second).m_nPort, 25);
    });
}

TEST(ArchiveTags, TagsThatNameNoClassAreBadIndexes) {
    const auto afterOneItem = [](Bytes tag) {
        Bytes bytes = ItemRecord();
        bytes.insert(bytes.end(), tag.begin(), tag.end());
        bytes.resize(bytes.size() + 20, 0);
        return LoadFailure(bytes, [](CObjectArchive& ar) {
            ar.ReadObject();
            ar.ReadObject();
        });
    };
    EXPECT_EQ(afterOneItem({0x00, 0x80}), ArchiveCause::badIndex);                         // class entry 0
    EXPECT_EQ(afterOneItem({0x02, 0x80}), ArchiveCause::badIndex);                         // an object's entry
    EXPECT_EQ(afterOneItem({0x03, 0x80}), ArchiveCause::badIndex);                         // not made yet
    EXPECT_EQ(afterOneItem({0xFF, 0x7F, 0x09, 0x00, 0x00, 0x80}), ArchiveCause::badIndex); // long, beyond
    EXPECT_EQ(afterOneItem({0x05, 0x00}), ArchiveCause::badIndex);                         // reference beyond
    EXPECT_EQ(afterOneItem({0x01, 0x00}), ArchiveCause::badIndex);                         // reference to a class
    EXPECT_EQ(afterOneItem({0x02, 0x00}), ArchiveCause::badClass);                         // earlier object
    EXPECT_EQ(afterOneItem({0xFF, 0x7F, 0x02, 0x00, 0x00, 0x00}), ArchiveCause::badClass); // long reference
}

TEST(ArchiveTags, ClassRecordsAreCheckedByteForByte) {
    const auto record = [](std::string name, std::uint16_t schema = 0) {
        Bytes bytes = {0xFF,
                       0xFF,
                       static_cast<unsigned char>(schema),
                       static_cast<unsigned char>(schema >> 8),
                       static_cast<unsigned char>(name.size()),
                       static_cast<unsigned char>(name.size() >> 8)};
        bytes.insert(bytes.end(), name.begin(), name.end());
        bytes.resize(bytes.size() + 100, 0);
        return LoadFailure(bytes, [](CObjectArchive& ar) {
            ar.ReadObject();
            throw CArchiveException(ArchiveCause::endOfFile); // loaded: not what is expected
        });
    };
    EXPECT_EQ(record("CITEM"), ArchiveCause::badClass);
    EXPECT_EQ(record("CItem "), ArchiveCause::badClass);
    EXPECT_EQ(record(std::string("CItem\0", 6)), ArchiveCause::badClass);
    EXPECT_EQ(record(""), ArchiveCause::badClass);
    EXPECT_EQ(record(std::string(63, 'A')), ArchiveCause::badClass);
    EXPECT_EQ(record(std::string(64, 'A')), ArchiveCause::badClass);
    EXPECT_EQ(record("CItem", 1), ArchiveCause::badSchema);
    EXPECT_EQ(record("CItemList", 0xFFFF), ArchiveCause::badSchema);
    // Only the name can be cut short without the end-of-file cause.
    EXPECT_EQ(LoadFailure({0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, 'C', 'I'}, [](CObjectArchive& ar) { ar.ReadObject(); }),
              ArchiveCause::badClass);
    EXPECT_EQ(LoadFailure({0xFF, 0xFF, 0x00, 0x00, 0x05}, [](CObjectArchive& ar) { ar.ReadObject(); }),
              ArchiveCause::endOfFile);
}

} // namespace
