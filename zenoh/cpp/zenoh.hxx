// The project's Zenoh layer: a thin C++ face over the norvik_zenoh C ABI.
#pragma once

#include "zenoh/bytes.hxx"
#include "zenoh/entities.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/ext/deserialize.hxx"
#include "zenoh/ext/serializer.hxx"
#include "zenoh/keyexpr.hxx"
#include "zenoh/session.hxx"
