#include "CObjectArchive.h"

#include "ClassRegistry.h"
#include "UniqueFd.h"
#include "Utf16.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace {
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kLongTag = 0x7FFF;
constexpr std::uint16_t kClassTagBit = 0x8000;
constexpr std::uint32_t kLongClassTagBit = 0x80000000;
constexpr std::uint16_t kWideStringMarker = 0xFFFE;
constexpr std::uint8_t kByteLengthEscape = 0xFF;
constexpr std::uint16_t kWordLengthEscape = 0xFFFF;
constexpr std::uint16_t kCountEscape = 0xFFFF;
// Longer class names are never registered; a record claiming one is refused unread.
constexpr std::uint16_t kMaxClassNameLength = 63;

template <typename T>
void PutLittleEndian(unsigned char* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i));
}

template <typename T>
T GetLittleEndian(const unsigned char* in) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return static_cast<T>(value);
}
} // namespace

CObjectArchive::CObjectArchive(int fd, Mode mode, std::uint64_t fileSize)
    : m_fd(fd), m_mode(mode), m_fileSize(fileSize), m_buffer(kBufferSize) {
    if (IsLoading())
        m_loadTable.push_back(nullptr); // entry 0: no object
}

// ---- storing ----

void CObjectArchive::Write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (count > 0) {
        if (m_bufPos == m_buffer.size())
            Flush();
        const std::size_t chunk = std::min(count, m_buffer.size() - m_bufPos);
        std::memcpy(m_buffer.data() + m_bufPos, bytes, chunk);
        m_bufPos += chunk;
        bytes += chunk;
        count -= chunk;
    }
}

void CObjectArchive::Flush() {
    if (const int error = WriteAll(m_fd, m_buffer.data(), m_bufPos))
        throw CFileException(error);
    m_bufPos = 0;
}

void CObjectArchive::WriteInt32(std::int32_t value) {
    WriteDWord(static_cast<std::uint32_t>(value));
}

void CObjectArchive::WriteWord(std::uint16_t value) {
    unsigned char bytes[2];
    PutLittleEndian(bytes, value);
    Write(bytes, sizeof bytes);
}

void CObjectArchive::WriteDWord(std::uint32_t value) {
    unsigned char bytes[4];
    PutLittleEndian(bytes, value);
    Write(bytes, sizeof bytes);
}

void CObjectArchive::WriteString(const std::string& value) {
    const std::uint64_t length = value.size();
    if (length > std::numeric_limits<std::uint32_t>::max())
        throw CArchiveException(ArchiveCause::badIndex);
    if (length < kByteLengthEscape) {
        const auto b = static_cast<std::uint8_t>(length);
        Write(&b, 1);
    } else {
        Write(&kByteLengthEscape, 1);
        // A word of 0xFFFE would read as the wide-string marker, so from there on the
        // length goes into a dword.
        if (length < kWideStringMarker) {
            WriteWord(static_cast<std::uint16_t>(length));
        } else {
            WriteWord(kWordLengthEscape);
            WriteDWord(static_cast<std::uint32_t>(length));
        }
    }
    Write(value.data(), value.size());
}

void CObjectArchive::WriteCount(std::uint64_t count) {
    if (count > std::numeric_limits<std::uint32_t>::max())
        throw CArchiveException(ArchiveCause::badIndex);
    if (count < kCountEscape) {
        WriteWord(static_cast<std::uint16_t>(count));
    } else {
        WriteWord(kCountEscape);
        WriteDWord(static_cast<std::uint32_t>(count));
    }
}

void CObjectArchive::WriteTagForClass(const CRuntimeClass& cls) {
    const auto known = m_storeClasses.find(&cls);
    if (known == m_storeClasses.end()) {
        const std::uint32_t entry = NextEntry();
        const std::size_t nameLength = std::strlen(cls.m_lpszClassName);
        WriteWord(kNewClassTag);
        WriteWord(cls.m_wSchema);
        WriteWord(static_cast<std::uint16_t>(nameLength));
        Write(cls.m_lpszClassName, nameLength);
        m_storeClasses.emplace(&cls, entry);
        return;
    }
    const std::uint32_t entry = known->second;
    if (entry < kLongTag) {
        WriteWord(static_cast<std::uint16_t>(kClassTagBit | entry));
    } else {
        WriteWord(kLongTag);
        WriteDWord(kLongClassTagBit | entry);
    }
}

void CObjectArchive::WriteObject(const CSerializable& object) {
    WriteTagForClass(object.GetRuntimeClass());
    NextEntry(); // the object's own entry
    // Serialize moves fields in the archive's direction; storing only reads the object.
    const_cast<CSerializable&>(object).Serialize(*this);
}

void CObjectArchive::Close() {
    if (m_closed)
        return;
    if (IsStoring())
        Flush();
    m_closed = true;
}

std::uint32_t CObjectArchive::NextEntry() {
    if (m_nextEntry > kMaxEntry)
        throw CArchiveException(ArchiveCause::badIndex);
    return m_nextEntry++;
}

// ---- loading ----

std::uint64_t CObjectArchive::BytesLeft() const {
    const std::uint64_t unread = m_fileSize > m_filePos ? m_fileSize - m_filePos : 0;
    return unread + (m_bufLen - m_bufPos);
}

void CObjectArchive::Require(std::uint64_t count) const {
    if (count > BytesLeft())
        throw CArchiveException(ArchiveCause::endOfFile);
}

void CObjectArchive::FillBuffer() {
    m_bufPos = 0;
    m_bufLen = 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw CFileException(errno);
        }
        m_bufLen = static_cast<std::size_t>(n);
        m_filePos += m_bufLen;
        return;
    }
}

std::size_t CObjectArchive::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (m_bufPos == m_bufLen) {
            FillBuffer();
            if (m_bufLen == 0)
                break; // end of file
        }
        const std::size_t chunk = std::min(count - done, m_bufLen - m_bufPos);
        std::memcpy(out + done, m_buffer.data() + m_bufPos, chunk);
        m_bufPos += chunk;
        done += chunk;
    }
    return done;
}

void CObjectArchive::ReadExact(void* buffer, std::size_t count) {
    if (count <= m_bufLen - m_bufPos) { // the usual case: small fields from the buffer
        std::memcpy(buffer, m_buffer.data() + m_bufPos, count);
        m_bufPos += count;
        return;
    }
    Require(count);
    if (Read(buffer, count) != count)
        throw CArchiveException(ArchiveCause::endOfFile); // the file shrank while we read it
}

std::uint8_t CObjectArchive::ReadByte() {
    std::uint8_t b;
    ReadExact(&b, 1);
    return b;
}

std::int32_t CObjectArchive::ReadInt32() {
    return static_cast<std::int32_t>(ReadDWord());
}

std::uint16_t CObjectArchive::ReadWord() {
    unsigned char bytes[2];
    ReadExact(bytes, sizeof bytes);
    return GetLittleEndian<std::uint16_t>(bytes);
}

std::uint32_t CObjectArchive::ReadDWord() {
    unsigned char bytes[4];
    ReadExact(bytes, sizeof bytes);
    return GetLittleEndian<std::uint32_t>(bytes);
}

std::uint64_t CObjectArchive::ReadStringLength(bool& wide) {
    wide = false;
    std::uint8_t b = ReadByte();
    if (b < kByteLengthEscape)
        return b;
    std::uint16_t w = ReadWord();
    if (w == kWideStringMarker) {
        // The marker comes once; the length that follows uses the usual prefixes.
        wide = true;
        b = ReadByte();
        if (b < kByteLengthEscape)
            return b;
        w = ReadWord();
    }
    if (w < kWordLengthEscape)
        return w;
    return ReadDWord();
}

std::string CObjectArchive::ReadString() {
    bool wide = false;
    const std::uint64_t length = ReadStringLength(wide);
    const std::uint64_t bytes = wide ? length * 2 : length;
    Require(bytes); // before allocating: a damaged length must not cost memory
    std::string raw(static_cast<std::size_t>(bytes), '\0');
    ReadExact(raw.data(), raw.size());
    // Two returns, not a conditional: the conditional's result would be a copy of raw.
    if (wide)
        return Utf16LeToUtf8(raw);
    return raw;
}

std::uint64_t CObjectArchive::ReadCount() {
    const std::uint16_t w = ReadWord();
    if (w != kCountEscape)
        return w;
    return ReadDWord();
}

const CRuntimeClass* CObjectArchive::ReadClassRecord() {
    const std::uint16_t schema = ReadWord();
    const std::uint16_t nameLength = ReadWord();
    if (nameLength > kMaxClassNameLength)
        throw CArchiveException(ArchiveCause::badClass);
    char name[kMaxClassNameLength];
    if (Read(name, nameLength) != nameLength)
        throw CArchiveException(ArchiveCause::badClass); // a name cut short is no known name
    const CRuntimeClass* cls = FindSerializableClass(std::string_view(name, nameLength));
    if (!cls)
        throw CArchiveException(ArchiveCause::badClass);
    if (cls->m_wSchema != schema)
        throw CArchiveException(ArchiveCause::badSchema);
    NextEntry();
    m_loadTable.push_back(cls);
    return cls;
}

std::unique_ptr<CSerializable> CObjectArchive::ReadReference(std::uint32_t entry) {
    if (entry == 0)
        return nullptr;
    if (entry >= m_loadTable.size() || m_loadTable[entry] != nullptr)
        throw CArchiveException(ArchiveCause::badIndex); // beyond the table, or a class
    // An earlier object: legal in the encoding, but no list shares an object.
    throw CArchiveException(ArchiveCause::badClass);
}

std::unique_ptr<CSerializable> CObjectArchive::ReadObject(const CRuntimeClass* required) {
    const std::uint16_t tag = ReadWord();
    const CRuntimeClass* cls = nullptr;
    if (tag == kNewClassTag) {
        cls = ReadClassRecord();
    } else {
        std::uint32_t classEntry = 0;
        if (tag == kLongTag) {
            const std::uint32_t dword = ReadDWord();
            if (!(dword & kLongClassTagBit))
                return ReadReference(dword);
            classEntry = dword & ~kLongClassTagBit;
        } else if (tag & kClassTagBit) {
            classEntry = tag & ~kClassTagBit;
        } else {
            return ReadReference(tag);
        }
        // Entry 0, an entry not yet made, or an object's entry cannot name a class.
        if (classEntry == 0 || classEntry >= m_loadTable.size() || m_loadTable[classEntry] == nullptr)
            throw CArchiveException(ArchiveCause::badIndex);
        cls = m_loadTable[classEntry];
    }
    if (required && cls != required)
        throw CArchiveException(ArchiveCause::badClass);

    std::unique_ptr<CSerializable> object = cls->m_pfnCreateObject();
    NextEntry();
    m_loadTable.push_back(nullptr);
    object->Serialize(*this);
    return object;
}
