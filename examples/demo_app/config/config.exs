import Config

# Keep the console quiet: the demo's output is compared byte for byte.
config :logger, level: :warning
