#pragma once

#include <QString>

class Dialogs;

// The start-up check that the database engine can be used.
namespace ODBCProvider {

// "Error #3706: Provider cannot be found. ..." with its paragraphs separated by empty lines.
QString ProviderMissingMessage();

// The engine vendor's two download pages, opened when the user asks for them.
inline constexpr auto FirstDownloadPage = "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
inline constexpr auto SecondDownloadPage = "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// True when an engine connection object can be made. Otherwise false; when the failure names a
// missing provider the user is first told so and offered the download pages. Never reports.
bool IsProviderInstalled(Dialogs &dialogs);

} // namespace ODBCProvider
