#pragma once
// A lower layer that reached for Qt.
#include <vector>
#include <QtCore/QString>
