#include "detail/HotelDescParser.h"

#include "detail/Sections.h"
#include "platform/html/Mshtml.h"
#include "platform/toolkit/Forms.h"

THotelDescParser::THotelDescParser(const QString& siteBase) : photoPrefix_(detail::PhotoPrefix(siteBase))
{
    comInit_ = CoInitialize(nullptr);
    if (FAILED(comInit_))
        ShowMessage("COM Init 에러");
}

THotelDescParser::~THotelDescParser()
{
    // Each record gives back exactly the initialisation it took (S_OK or
    // S_FALSE both count), which keeps the thread's count balanced however
    // many records a run creates.
    if (SUCCEEDED(comInit_))
        CoUninitialize();
}

void THotelDescParser::SetUrl(const AnsiString& address)
{
    PageUrl = address;
}

void THotelDescParser::ParseDocument(IHTMLDocument2* document)
{
    loaded_ = document != nullptr;
    if (document)
        ExtractSections(document);
}
