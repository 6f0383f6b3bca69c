// One window per installation folder: a second start hands the files named on its command
// line to the window already running from the same folder, over a local socket, and ends.
#pragma once

#include <QString>

#include <string>
#include <vector>

// The socket name of the copies started from `programDir`: the same for every start from
// that folder by one user, another for another folder or user. A file in the user's private
// $XDG_RUNTIME_DIR where there is one, else a name in the abstract namespace, where another
// user may take it first: a later start then runs on its own and says so on stderr.
QString RunningCopyName(const std::string& programDir);

// Hands `files` to the copy listening on `name` (the same user's only) and waits for its
// answer; true once it has taken them. False when nobody listens there or the copy does not
// answer in time: this start then runs on its own.
bool HandFilesToRunningCopy(const QString& name, const std::vector<std::string>& files);

// Listens on `name` for later starts by the same user. False when another copy listens
// there already (or listening is impossible). A message is read as it arrives; a connection
// is closed after 10 s whatever it sent, at once when it sends more than a command line
// holds or anything after its confirmation; paths beyond 10000 or longer than 4095 bytes
// are refused, with a line on stderr.
bool ListenForLaterStarts(const QString& name);

// Appends the files handed over by later starts, as the file-open dialog's, once the list
// is free: the main window shown and no command filling the list or converting. Called when
// files arrive and wherever such a command ends; nothing to do otherwise.
void AddHandedFiles();
