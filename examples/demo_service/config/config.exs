import Config

# Keep the console quiet: the service's output is compared byte for byte.
config :logger, level: :warning
