#pragma once

#include <QString>

// The shared calendar saved for the next start, in the user's settings
// ($XDG_CONFIG_HOME/orvenna/orvenna.conf); empty: the file beside the program.
[[nodiscard]] QString savedDatabaseUrl();
void saveDatabaseUrl(const QString &url);
