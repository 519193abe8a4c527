// A small push source for the framework tests: RGB24 frames of a fixed size whose bytes
// all hold the frame number, stamped 333333 apart, on pins of chosen categories.
#pragma once

#include <vector>

#include "platform/dshow/BaseClasses.h"

// {6E1C6C3A-2F0B-4C55-9A51-3B1D7E2A9C01}
inline constexpr CLSID CLSID_TestSource = {
    0x6E1C6C3A, 0x2F0B, 0x4C55, {0x9A, 0x51, 0x3B, 0x1D, 0x7E, 0x2A, 0x9C, 0x01}};

class CTestSource : public CSource {
public:
    static constexpr long kWidth = 64;
    static constexpr long kHeight = 48;
    static constexpr REFERENCE_TIME kFrameTime = 333333;

    // One output pin per category (PIN_CATEGORY_CAPTURE when none are given).
    explicit CTestSource(LPUNKNOWN outer, HRESULT* phr,
                         const std::vector<GUID>& categories = {PIN_CATEGORY_CAPTURE});
    ~CTestSource() override;

    static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
};
