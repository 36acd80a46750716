#pragma once
#include "core/estate/Index.h"
#include <QIODevice>
namespace Estate {
bool writeIndexPage(const Index &index, QIODevice &device);
}
