#pragma once

#include "ArchiveError.h"
#include "CSerializable.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The list file's object archive: one object that either stores to or loads from an open
// file descriptor through a 4096-byte buffer. Little-endian, nothing aligned or padded.
//
// Failures of the encoding throw CArchiveException; file errors throw CFileException.
// Both stay inside the list file unit: LoadListFile/SaveListFile turn them into results.
class CObjectArchive {
public:
    enum class Mode { store, load };
    static constexpr std::size_t kBufferSize = 4096;
    // Highest entry number of the shared class/object table.
    static constexpr std::uint32_t kMaxEntry = 0x3FFFFFFD;

    // The archive does not own fd. fileSize (loading only) bounds every length read: the
    // reader never allocates for more bytes than the file still holds.
    CObjectArchive(int fd, Mode mode, std::uint64_t fileSize = 0);
    // Does not flush: an archive abandoned by a failure must not write anything more.
    ~CObjectArchive() = default;
    CObjectArchive(const CObjectArchive&) = delete;
    CObjectArchive& operator=(const CObjectArchive&) = delete;

    bool IsStoring() const { return m_mode == Mode::store; }
    bool IsLoading() const { return m_mode == Mode::load; }

    void WriteInt32(std::int32_t value);
    void WriteWord(std::uint16_t value);
    void WriteDWord(std::uint32_t value);
    void WriteString(const std::string& value);
    void WriteCount(std::uint64_t count);
    // Writes the tag (with the class record the first time the class is met) and the
    // object's fields. Every object written is a new one: this program never shares objects.
    void WriteObject(const CSerializable& object);

    std::int32_t ReadInt32();
    std::uint16_t ReadWord();
    std::uint32_t ReadDWord();
    std::string ReadString(); // wide strings come back as UTF-8
    std::uint64_t ReadCount();
    // Reads one object tag and the object. Returns null for a reference to entry 0 (no object).
    // With required set, the object's class must be that class. References to earlier objects
    // are rejected: objects read here have one owner each.
    std::unique_ptr<CSerializable> ReadObject(const CRuntimeClass* required = nullptr);

    // Raw bytes; returns how many were available (loading) or written (storing).
    std::size_t Read(void* buffer, std::size_t count);
    void Write(const void* buffer, std::size_t count);

    // Loading: how many bytes are still to be read from the file.
    std::uint64_t BytesLeft() const;

    // Flushes the buffer (storing) and detaches from the file.
    void Close();

    // Both directions in one call, for Serialize routines.
    void Exchange(std::int32_t& value) { IsStoring() ? WriteInt32(value) : void(value = ReadInt32()); }
    void Exchange(std::string& value) { IsStoring() ? WriteString(value) : void(value = ReadString()); }

private:
    std::uint8_t ReadByte();
    void ReadExact(void* buffer, std::size_t count);
    void Require(std::uint64_t count) const;
    std::uint64_t ReadStringLength(bool& wide);
    void FillBuffer();
    void Flush();
    std::uint32_t NextEntry();
    const CRuntimeClass* ReadClassRecord();
    std::unique_ptr<CSerializable> ReadReference(std::uint32_t entry);
    void WriteTagForClass(const CRuntimeClass& cls);

    int m_fd;
    Mode m_mode;
    std::uint64_t m_fileSize;
    std::uint64_t m_filePos = 0; // loading: bytes taken from the file so far
    std::vector<unsigned char> m_buffer;
    std::size_t m_bufPos = 0; // next byte to read or write in the buffer
    std::size_t m_bufLen = 0; // loading: valid bytes in the buffer
    bool m_closed = false;

    // One table for classes and objects, numbered in order of first appearance from 1.
    std::uint32_t m_nextEntry = 1;
    std::unordered_map<const CRuntimeClass*, std::uint32_t> m_storeClasses; // storing: class -> entry
    // Loading: indexed by entry number; the class of a class entry, null for an object entry.
    std::vector<const CRuntimeClass*> m_loadTable;
};
