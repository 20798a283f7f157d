// The root of the framework's class tree.
//
// Every framework and transport class derives from TObject. Its class name is
// the C++ type's own name (the classes live in the global namespace so that
// "EIdSocketError" reads back as "EIdSocketError"); error boxes and conversion
// errors show it. Thread-safe: ClassName only reads type information.
#pragma once

#include <string>
#include <typeinfo>

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;

  // The name of the most derived class of this object.
  std::string ClassName() const;
};

// The readable name of any C++ type, e.g. "std::bad_alloc" or "EAbort".
std::string ClassNameOf(const std::type_info& type);
