#pragma once

#include <QString>

class Dialogs;

// The start-up check that the database engine can be used.
namespace ODBCProvider {

// "Error #3706: Provider cannot be found. ..." with its paragraphs separated by empty lines. Where
// the engine is not Microsoft's but Strudex's own worker program (Linux, macOS), the advice to
// download Microsoft's engine cannot help: a paragraph after the question names the missing
// program and says to reinstall Strudex.
QString ProviderMissingMessage(const QString &engineProgram);

// The engine vendor's two download pages, opened when the user asks for them.
inline constexpr auto FirstDownloadPage = "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
inline constexpr auto SecondDownloadPage = "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// True when an engine connection object can be made. Otherwise false; when the failure names a
// missing provider the user is first told so and offered the download pages. Never reports.
bool IsProviderInstalled(Dialogs &dialogs);

} // namespace ODBCProvider
