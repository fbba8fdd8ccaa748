// Status codes of the driver interface. They keep the values and names of the OLE DB codes that
// callers and log lines refer to, so a code printed by FormatHresult means the same everywhere.
#pragma once

#include <cstdint>

namespace tabulon::data {

// A 32-bit status: negative values are failures, 0 is plain success, other positive values are
// success with something to say (which the statement runner still treats as failure).
using Hresult = std::int32_t;

constexpr Hresult MakeHresult(std::uint32_t bits) { return static_cast<Hresult>(bits); }

inline constexpr Hresult S_OK = 0;
inline constexpr Hresult S_FALSE = 1;
inline constexpr Hresult DB_S_ENDOFROWSET = MakeHresult(0x00040EC6);
inline constexpr Hresult DB_S_ERRORSOCCURRED = MakeHresult(0x00040EDA);
inline constexpr Hresult E_FAIL = MakeHresult(0x80004005);
inline constexpr Hresult E_NOINTERFACE = MakeHresult(0x80004002);
inline constexpr Hresult E_NOTIMPL = MakeHresult(0x80004001);
inline constexpr Hresult E_UNEXPECTED = MakeHresult(0x8000FFFF);
inline constexpr Hresult E_OUTOFMEMORY = MakeHresult(0x8007000E);
inline constexpr Hresult E_INVALIDARG = MakeHresult(0x80070057);
inline constexpr Hresult REGDB_E_CLASSNOTREG = MakeHresult(0x80040154);
inline constexpr Hresult DB_E_BADACCESSORHANDLE = MakeHresult(0x80040E00);
inline constexpr Hresult DB_E_BADORDINAL = MakeHresult(0x80040E55);
inline constexpr Hresult DB_E_ERRORSINCOMMAND = MakeHresult(0x80040E14);
inline constexpr Hresult DB_E_ERRORSOCCURRED = MakeHresult(0x80040E21);
inline constexpr Hresult DB_E_NOTABLE = MakeHresult(0x80040E37);
inline constexpr Hresult DB_SEC_E_AUTH_FAILED = MakeHresult(0x80040E4D);
inline constexpr Hresult DB_E_OBJECTOPEN = MakeHresult(0x80040E05);

constexpr bool Succeeded(Hresult code) { return code >= 0; }
constexpr bool Failed(Hresult code) { return code < 0; }

}  // namespace tabulon::data
