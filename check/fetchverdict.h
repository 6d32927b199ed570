#pragma once

#include <site/checkresults.h>

namespace skarnel {

class PageLoad;

// The verdict on a finished fetch by its answer alone: broken when it failed, or when its final
// answer, after redirects, is 400 or above, whatever its body says; fine otherwise. The check
// goes on to the error texts for a page that is fine here; the command line judges its start
// page by this alone. An address robots.txt keeps out is neither: listed, not checked, for the
// load's reason.
PageVerdict answerVerdict(const PageLoad &fetch);

} // namespace skarnel
