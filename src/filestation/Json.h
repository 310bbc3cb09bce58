// The JSON library of the reply parsers. (RapidJSON's SSE2/SSE4.2 scanning stays off: it reads
// whole 16-byte blocks, past the end of the text, which the sanitizers rightly report.)
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
