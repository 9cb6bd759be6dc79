#include <cstring>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/mem4.h"
#include "xbase/util4.h"

namespace {

// The name upper-cased into `out`; false when it is empty or too long.
bool calcName(const char* name, char (&out)[sizeof expr4calc::name]) {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) >= sizeof out) return false;
    u4ncpy(out, name, sizeof out);
    c4upper(out);
    return true;
}

}  // namespace

expr4calc* expr4calcLookup(env4* env, const char* name) {
    char wanted[sizeof expr4calc::name];
    if (env == nullptr || !calcName(name, wanted)) return nullptr;
    for (auto* c = static_cast<expr4calc*>(list4first(&env->calcs)); c != nullptr;
         c = static_cast<expr4calc*>(list4next(&env->calcs, c)))
        if (std::strcmp(c->name, wanted) == 0) return c;
    return nullptr;
}

expr4calc* expr4calcCreate(env4* env, expression4* expr, const char* name) {
    if (env == nullptr || expr == nullptr) {
        error4raise(env, e4parmNull, E4LOC(91101));
        expr4free(expr);
        return nullptr;
    }
    char upper[sizeof expr4calc::name];
    if (error4pending(env) || !calcName(name, upper)) {
        if (!error4pending(env)) error4raise(env, e4name, E4LOC(91102));
        expr4free(expr);
        return nullptr;
    }
    auto* calc = static_cast<expr4calc*>(u4allocAgain(env, sizeof(expr4calc)));
    if (calc == nullptr) {
        expr4free(expr);
        return nullptr;
    }
    if (expr4calc* old = expr4calcLookup(env, upper)) expr4calcDelete(env, old);
    calc->expr = expr;
    std::memcpy(calc->name, upper, sizeof upper);
    if (list4add(&env->calcs, calc) < 0) {  // unlisted, it would never be found or freed
        expr4free(expr);
        mem4free(calc);
        error4raise(env, e4info, E4LOC(91103));
        return nullptr;
    }
    env->calcReleaseAll = &expr4calcReleaseAll;
    return calc;
}

void expr4calcDelete(env4* env, expr4calc* calc) {
    if (env == nullptr || calc == nullptr || !list4contains(&env->calcs, calc)) return;
    if (list4remove(&env->calcs, calc) < 0) return;  // a damaged list: leave it be
    expr4free(calc->expr);
    mem4free(calc);
}

void expr4calcReleaseAll(env4* env) {
    if (env == nullptr) return;
    while (auto* calc = static_cast<expr4calc*>(list4first(&env->calcs)))
        expr4calcDelete(env, calc);
}
