// The root of the framework's class tree.
//
// Every framework and transport class derives from TObject. Its class name is
// the C++ type's own name without its namespace ("EIdSocketError"); error boxes
// and conversion errors show it. Thread-safe: ClassName only reads type information.
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

// The name of any C++ type without its namespace, e.g. "bad_alloc" or "EAbort".
std::string ClassNameOf(const std::type_info& type);
