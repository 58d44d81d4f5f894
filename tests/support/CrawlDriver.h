#pragma once
// Driving a whole crawl in a test: the window's handlers ticked at test
// speed, and what the crawl kept.

#include "app/Unit1.h"
#include "store/Staymarker.h"

#include <QTimer>

#include <map>

// Ticks both of the window's handlers every 5 ms, but only while its browser
// is not loading a result page, so that a destination step never cuts the
// paging of the one before short, however slow the machine. The window's
// own timers should be slow meanwhile. Ticks from construction until it is
// destroyed; `form` must outlive it.
class IdleTicker {
public:
    explicit IdleTicker(TForm1& form)
    {
        QObject::connect(&timer_, &QTimer::timeout, [&form] {
            if (form.CppWebBrowser1->Busy())
                return;
            form.Timer1Timer(form.Timer1);
            form.Timer2Timer(form.Timer2);
        });
        timer_.start(5);
    }

private:
    QTimer timer_;
};

// Every hotel in "Staymarker": its destination by its detail address.
inline std::map<AnsiString, AnsiString> KeptHotels()
{
    std::map<AnsiString, AnsiString> airportByUrl;
    for (const auto& row : store::ReadAllHotels())
        airportByUrl[row.Url] = row.AirPort;
    return airportByUrl;
}
