#pragma once

#include <cstdint>
#include <memory>

class CObjectArchive;
class CSerializable;

// Describes one serialisable class: the name and schema written into list files,
// and a factory that makes a fresh object when a file names the class.
struct CRuntimeClass {
    const char* m_lpszClassName;
    std::uint16_t m_wSchema;
    std::unique_ptr<CSerializable> (*m_pfnCreateObject)();
};

// Base of the objects that a list file holds.
class CSerializable {
public:
    virtual ~CSerializable() = default;
    virtual const CRuntimeClass& GetRuntimeClass() const = 0;
    // Writes the object's fields to, or reads them from, the archive, by its direction.
    virtual void Serialize(CObjectArchive& ar) = 0;
};
