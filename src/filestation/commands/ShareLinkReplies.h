#pragma once

#include "filestation/ParserBase.h"
