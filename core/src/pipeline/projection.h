// Projections of a query's selection and the flattening of object
// sub-selections into dotted field paths.
#pragma once

#include <string>
#include <vector>

#include "pipeline/ast.h"
#include "schema/definition.h"

namespace varnel::pipeline {

// A selected "relation" that is really a declared object field with a
// nested field description (address { city zip }) becomes the dotted fields
// "address.city", "address.zip" appended to `fields`, and leaves
// `relations`; nested selections and arguments under it are dropped. All
// other relations keep their order.
void flatten_object_fields_impl(std::vector<std::string>& fields, Relations& relations,
                                const schema::Schema& schema);

}  // namespace varnel::pipeline
