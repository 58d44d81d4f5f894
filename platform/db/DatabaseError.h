#pragma once
// The one error type of the database layer.

#include <stdexcept>

// Every failure of the table component and of OpenAliasDatabase.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
