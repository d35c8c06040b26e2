# Sourced by the scripts that configure build trees: `launcher` holds the
# cmake option that puts ccache in front of the compiler, where it is
# installed, so that the second and third builds of the same sources (the
# sanitizer build, a fresh clone) take seconds instead of minutes. ccache
# takes the compiles of and with the precompiled headers only when told
# that the headers' macros and times may be trusted.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  case ",${CCACHE_SLOPPINESS:-}," in
    *,pch_defines,*) ;;
    *) export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:+$CCACHE_SLOPPINESS,}pch_defines,time_macros ;;
  esac
fi
