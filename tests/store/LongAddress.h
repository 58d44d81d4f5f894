#pragma once
// A detail-page address of a given length whose tail is random text that no
// engine can compress: stored whole, it is as long in an index entry as it
// is here. The same seed every time, so a failure repeats.

#include "platform/base/AnsiString.h"

#include <cstddef>
#include <random>

inline AnsiString LongAddress(std::size_t length, unsigned seed = 1)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    AnsiString url = "http://hotels.example/hotsdetail.ctl?hotel=long&pad=";
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, 63);
    while (url.size() < length)
        url += kAlphabet[pick(random)];
    return url;
}
