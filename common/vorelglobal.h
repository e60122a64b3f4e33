#pragma once
#include <QtCore/qglobal.h>

#if defined(VOREL_BUILD_CORE)
#  define VOREL_CORE_EXPORT Q_DECL_EXPORT
#else
#  define VOREL_CORE_EXPORT Q_DECL_IMPORT
#endif

#if defined(VOREL_BUILD_GUI)
#  define VOREL_GUI_EXPORT Q_DECL_EXPORT
#else
#  define VOREL_GUI_EXPORT Q_DECL_IMPORT
#endif
