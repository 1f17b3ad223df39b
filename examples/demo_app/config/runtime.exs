import Config

# Read at every start of the release (it needs RELEASE_ROOT to be found), so
# the greeting can be changed without rebuilding.
config :demo_app, greeting: System.get_env("DEMO_GREETING", "Hello")
