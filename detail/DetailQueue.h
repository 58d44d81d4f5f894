#pragma once
// How deep detail steps may nest.

// Detail steps running at once at most: a step pumps events while its page
// loads, and a tick or a finished result page then starts another inside
// it. While pages hang (an outage without answers) a new step would nest
// about every step's worth of ticks for as long as it lasts; past this
// depth a step leaves its link queued for a later tick instead.
constexpr int kMaxDetailNesting = 3;
