#pragma once
// The little of COM this program relies on: result codes, variants, the
// per-thread initialisation count, and interface pointers.
//
// Interface pointers are std::shared_ptr: "Release" is dropping the pointer.
// QueryInterface succeeds exactly when the object implements the interface.

#include <QString>

#include <cstdint>
#include <memory>

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using VARIANT_BOOL = std::int16_t;
using VARTYPE = std::uint16_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT MK_E_SYNTAX = static_cast<HRESULT>(0x800401E4u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8, VT_ERROR = 10 };

// A tagged value as COM calls pass them; only the kinds this program uses.
struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    LONG lVal = 0;        // VT_I4
    HRESULT scode = 0;    // VT_ERROR
    QString bstrVal;      // VT_BSTR
};

inline VARIANT VariantI4(LONG value) { VARIANT v; v.vt = VT_I4; v.lVal = value; return v; }
inline VARIANT VariantBstr(const QString& value) { VARIANT v; v.vt = VT_BSTR; v.bstrVal = value; return v; }
// The "not given" value of an optional argument.
inline VARIANT VariantNotGiven() { VARIANT v; v.vt = VT_ERROR; v.scode = DISP_E_PARAMNOTFOUND; return v; }

template <class T>
using ComPtr = std::shared_ptr<T>;

// Root of every object handed out through an interface pointer.
class IDispatch : public std::enable_shared_from_this<IDispatch> {
public:
    virtual ~IDispatch() = default;
};
using LPDISPATCH = IDispatch*;

// S_OK and the interface when `from` implements I; E_NOINTERFACE (and a null
// `out`) when it does not; E_POINTER for a null `from`.
template <class I>
HRESULT QueryInterface(IDispatch* from, ComPtr<I>& out)
{
    out.reset();
    if (!from)
        return E_POINTER;
    out = std::dynamic_pointer_cast<I>(from->shared_from_this());
    return out ? S_OK : E_NOINTERFACE;
}

template <class From, class I>
HRESULT QueryInterface(const ComPtr<From>& from, ComPtr<I>& out)
{
    return QueryInterface(static_cast<IDispatch*>(from.get()), out);
}

// COM initialisation of the calling thread, counted. S_OK on the first call,
// S_FALSE when the thread is already initialised; each successful call is
// undone by one CoUninitialize. Documents cannot be created while the count is 0.
HRESULT CoInitialize(std::nullptr_t reserved);
void CoUninitialize();
int CoInitializeCount();  // the calling thread's count, for checks and tests
