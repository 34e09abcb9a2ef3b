#pragma once

// The release channel a user follows; the value indexes the version query's reply list.
enum UpdateChannel {
    Stable = 0,
    Beta = 1,
    Alpha = 2
};
