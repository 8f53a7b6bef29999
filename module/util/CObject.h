// The root of the module's polymorphic records: a virtual destructor, so that a
// list of base pointers destroys each record as what it is.
#pragma once

class CObject {
public:
    virtual ~CObject() = default;

protected:
    CObject() = default;
};
