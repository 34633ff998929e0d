#pragma once

#include "records.h"

#include <cstddef>
#include <string>

// The reader and the normal pass done the plain way, kept to check the fast
// ones against: every pass rewinds a C stream and scans from the top with the
// scanf patterns of the format, and every vertex searches all triangles. It
// follows the same rules for bad data (skipped lines, refused counts, cut
// texts) but reports nothing.
void referenceReadModel(tModel* model, const char* data, size_t size);
void referenceVertexNormals(tModel* model);

// True when both models hold the same records bit for bit (any NaN matches
// any NaN); otherwise false with the first difference described in why.
bool sameModel(const tModel& a, const tModel& b, std::string* why);
