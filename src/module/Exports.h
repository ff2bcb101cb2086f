#pragma once

#include <cstdint>

#include "sdk/InterfaceId.h"

// The module's two exported functions, with plain C names (see devicescan.def).
extern "C" {

// Creates the object registered under name and stores its view for id in *out.
// 0 on success; 1168 (ERROR_NOT_FOUND), with *out null, for an unknown name, an identity the
// object does not answer (the object is destroyed again) or a construction that failed.
std::uint32_t QvCreateObject(const wchar_t* name, qv::InterfaceId id, void** out) noexcept;

// Destroys object (the root view of an object made under name); null, an unknown name or an
// object of another class destroy nothing.
void QvDestroyObject(const wchar_t* name, void* object) noexcept;
}
