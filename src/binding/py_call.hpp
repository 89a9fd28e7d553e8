// The one call path shared by every Python entry point:
//   parse -> borrow -> convert -> run -> release -> translate.
// Each step has its own file:
//   py_args.hpp      parse_* check the arguments against a constant Params
//                    description and set the exact TypeError; *_arg convert them;
//   py_borrow.hpp    the record wrappers and their borrows (with_shared,
//                    with_exclusive), released on every path by RAII;
//   py_error.hpp     call() turns whatever the body throws into exactly one
//                    Python exception;
//   py_result.hpp    the new_* helpers and the lists (new_list, ListItems);
//   py_refcount.hpp  the reference-count shortcut the bool planes rely on;
//   py_class.hpp     the classes' type objects and method tables.
#pragma once

#include "py_args.hpp"
#include "py_borrow.hpp"
#include "py_class.hpp"
#include "py_error.hpp"
#include "py_ref.hpp"
#include "py_refcount.hpp"
#include "py_result.hpp"
