#pragma once

#include "CSerializable.h"

#include <string_view>

// The serialisable classes a list file may name. Names are compared byte for byte.
const CRuntimeClass* FindSerializableClass(std::string_view name);
