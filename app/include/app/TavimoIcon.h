// The program's icon (window, tray and About box): a compass rose drawn once.
#pragma once

#include <QIcon>

QIcon TavimoIcon();
