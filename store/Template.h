#pragma once

#include <QString>

namespace store {

// One activity or drill template.
struct Template
{
    int id = -1;
    QString title;
    QString description;
};

} // namespace store
